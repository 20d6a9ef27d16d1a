#!/usr/bin/env bash
# clang-tidy (checks in .clang-tidy) and cppcheck over the program, its tools
# and the fuzz target; any finding fails the step.
set -euo pipefail
cd "$(dirname "$0")/../.."

# The Win32 host library, and the Windows side of libkestrun, are checked
# again below, against the mingw-w64 headers.
win32="src/hostkit/hostkit_win32.cpp src/hostkit/hostkit_output_win32.cpp"
win32_library="src/lib/open.cpp src/lib/extract.cpp src/lib/errors.cpp"
sources=$(git ls-files 'src/*.cpp' 'tools/*.cpp' 'fuzz/*.cpp' ':!src/hostkit/*win32.cpp')
cmake -S . -B build/tidy -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
  -DKESTRUN_SANITIZE=ON -DKESTRUN_FUZZ=ON -DKESTRUN_WERROR=ON -DBUILD_TESTING=OFF >/dev/null
echo "clang-tidy: $(echo "$sources" | wc -l) files"
# shellcheck disable=SC2086
clang-tidy -p build/tidy --quiet $sources
mingw=/usr/lib/gcc/x86_64-w64-mingw32/12-posix/include/c++
# shellcheck disable=SC2086
clang-tidy --quiet $win32 -- --target=x86_64-w64-mingw32 -std=c++17 -DHOSTKIT_BUILD \
  -isystem "$mingw" -isystem "$mingw/x86_64-w64-mingw32" -isystem /usr/x86_64-w64-mingw32/include
# shellcheck disable=SC2086
clang-tidy --quiet $win32_library -- --target=x86_64-w64-mingw32 -std=c++17 \
  -DKESTRUN_BUILD_LIBRARY -DHOSTKIT_INTERNAL -Iinclude -Ibuild/tidy/generated \
  -isystem "$mingw" -isystem "$mingw/x86_64-w64-mingw32" -isystem /usr/x86_64-w64-mingw32/include

echo "cppcheck"
# useStlAlgorithm asks for std::any_of and friends where the code keeps plain
# loops on purpose.
cppcheck --std=c++17 --enable=warning,style,performance,portability --error-exitcode=1 \
  --inline-suppr --suppress=missingIncludeSystem --suppress=useStlAlgorithm --quiet \
  -I src src tools fuzz

echo "clang-format"
# shellcheck disable=SC2046
clang-format --dry-run --Werror $(git ls-files '*.cpp' '*.h')
