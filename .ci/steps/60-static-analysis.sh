#!/usr/bin/env bash
# clang-tidy (checks in .clang-tidy) and cppcheck over the program and its
# library, its tools, the fuzz target and the benchmark programs; any finding
# fails the step.
set -euo pipefail
cd "$(dirname "$0")/../.."

# The Win32 sources (the host library, SHA-256 by CNG, and the Windows side of
# libkestrun and of opening a package) are checked again below, against the
# mingw-w64 headers.
win32="src/hostkit/hostkit_win32.cpp src/hostkit/hostkit_output_win32.cpp
  src/hostkit/hostkit_target_win32.cpp src/cli/hash/sha256_cng.cpp"
win32_library="src/lib/open.cpp src/lib/extract.cpp src/lib/errors.cpp src/package/open_package.cpp
  src/lib/writer.cpp src/lib/writer_commit.cpp"
sources=$(git ls-files 'src/*.cpp' 'tools/*.cpp' 'fuzz/*.cpp' ':!src/hostkit/*win32.cpp' \
  ':!src/cli/hash/sha256_cng.cpp')
cmake -S . -B build/tidy -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
  -DKESTRUN_SANITIZE=ON -DKESTRUN_FUZZ=ON -DKESTRUN_WERROR=ON -DBUILD_TESTING=OFF >/dev/null
echo "clang-tidy: $(echo "$sources" | wc -l) files"
# On both cores: clang-tidy takes most of this step's time. xargs fails when
# any of its runs does.
echo "$sources" | xargs -P 2 -n 6 clang-tidy -p build/tidy --quiet
# The benchmark programs and the library's C driver, which that build leaves
# out, with the flags they are built with. (The GoogleTest programs are left
# out: their headers make each take half a minute.)
clang-tidy --quiet bench/library.cpp bench/floor.cpp bench/writer.cpp bench/pack_with_writer.cpp \
  -- -std=c++17 -Iinclude
clang-tidy --quiet tests/kr_extract_driver.c bench/zip_find.c -- -std=c11 -Iinclude
mingw=/usr/lib/gcc/x86_64-w64-mingw32/12-posix/include/c++
# shellcheck disable=SC2086
clang-tidy --quiet $win32 -- --target=x86_64-w64-mingw32 -std=c++17 \
  -isystem "$mingw" -isystem "$mingw/x86_64-w64-mingw32" -isystem /usr/x86_64-w64-mingw32/include
# shellcheck disable=SC2086
clang-tidy --quiet $win32_library -- --target=x86_64-w64-mingw32 -std=c++17 \
  -DKESTRUN_BUILD_LIBRARY -Iinclude -Ibuild/tidy/generated \
  -isystem "$mingw" -isystem "$mingw/x86_64-w64-mingw32" -isystem /usr/x86_64-w64-mingw32/include

echo "cppcheck"
# useStlAlgorithm asks for std::any_of and friends where the code keeps plain
# loops on purpose.
cppcheck -j 2 --std=c++17 --enable=warning,style,performance,portability --error-exitcode=1 \
  --inline-suppr --suppress=missingIncludeSystem --suppress=useStlAlgorithm --quiet \
  -I src -I include src tools fuzz bench

echo "clang-format"
# shellcheck disable=SC2046
clang-format --dry-run --Werror $(git ls-files '*.cpp' '*.h' '*.c')
