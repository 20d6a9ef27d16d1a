#!/usr/bin/env bash
# Cross-builds kestrun.exe, libhostkit.dll and libkestrun.dll with mingw-w64,
# runs the Win32 libhostkit's and libkestrun's tests under Wine, then the
# end-to-end tests (built natively by the release preset) against the Windows
# build, and last the example built against the installed Windows library.
# Tests about POSIX-only behaviour skip themselves there.
set -euo pipefail
cd "$(dirname "$0")/../.."

cmake --workflow --preset windows
cmake --preset release >/dev/null
cmake --build --preset release --target e2e_tests mksample libkestrun

export WINEPREFIX="$PWD/build/wine-prefix" WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=" # no Mono or Gecko installer prompts
# One wine server for the whole run, so that each of the many short runs of
# kestrun.exe finds the prefix ready instead of starting it again (about 2 s
# each). Its helper processes start here with no pipe of a test open.
mkdir -p "$WINEPREFIX"
wineserver -k 2>/dev/null || true # a server left from an earlier run
wineserver -p
trap 'wineserver -k || true' EXIT
start=$(date +%s)
wineboot --init </dev/null >/dev/null 2>&1
echo "Wine prefix ready in $(($(date +%s) - start)) s."

ctest --preset windows
KESTRUN_BIN="$PWD/build/windows/kestrun.exe" KESTRUN_WRAPPER=wine \
  build/release/tests/e2e_tests --gtest_brief=1

# libkestrun.dll as a program gets it: the example cross-built through
# find_package against the installed Windows build, run on a package made
# natively, lists and copies exactly as the native example does (less the CR
# that ends each listed line on Windows).
work=$(mktemp -d)
trap 'wineserver -k || true; rm -rf "$work"' EXIT
cmake --install build/windows --prefix "$work/prefix" >/dev/null
cmake -S examples -B "$work/windows" -G Ninja --toolchain "$PWD/cmake/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS="-Wall -Wextra -Wpedantic -Werror" \
  -Dkestrun_DIR="$work/prefix/lib/cmake/kestrun" >/dev/null
cmake --build "$work/windows" >/dev/null
cp "$work/prefix/bin/libkestrun.dll" "$work/windows/"
cc -std=c11 -Wall -Werror -Iinclude -o "$work/list_and_copy" examples/list_and_copy.c \
  build/release/libkestrun.so -Wl,-rpath,"$PWD/build/release"
build/release/mksample "$work/sample.rbd" >/dev/null
cd "$work"
./list_and_copy sample.rbd >native.txt
wine windows/list_and_copy.exe sample.rbd | tr -d '\r' >windows.txt
diff native.txt windows.txt
[ -s native.txt ]
while read -r _ path; do
  cmp <(./list_and_copy sample.rbd "$path") <(wine windows/list_and_copy.exe sample.rbd "$path")
done <native.txt
echo "The example against libkestrun.dll lists and copies as the native one does."
