#!/usr/bin/env bash
# Builds examples/list_and_copy.c against the libkestrun installed under
# PREFIX, once with plain cc through pkg-config and once with CMake through
# find_package(kestrun), and checks both on a package made by mksample: the
# list must be kestrun's own --list, and each entry copied to standard output
# must be the file kestrun extracts for it.
# Arguments: PREFIX, the mksample program, the kestrun program to compare with.
set -euo pipefail
prefix=$1 mksample=$(realpath "$2") kestrun=$3
[[ $kestrun != */* ]] || kestrun=$(realpath "$kestrun")
source_dir=$(cd "$(dirname "$0")/.." && pwd)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAILED: $*"
  exit 1
}

pc=$(find "$prefix"/lib* -path '*/pkgconfig/kestrun.pc' | head -n 1)
[ -n "$pc" ] || fail "no kestrun.pc under $prefix"
export PKG_CONFIG_PATH=${pc%/kestrun.pc}
libdir=$(pkg-config --variable=libdir kestrun)
# A prefix of the system's own is in the linker's path; any other is named.
rpath=()
[ "$prefix" = /usr ] || rpath=("-Wl,-rpath,$libdir")
mkdir "$work/pc"
# shellcheck disable=SC2046
cc -std=c11 -Wall -Wextra -Wpedantic -Werror -o "$work/pc/list_and_copy" \
  "$source_dir/examples/list_and_copy.c" $(pkg-config --cflags --libs kestrun) "${rpath[@]}"

cmake -S "$source_dir/examples" -B "$work/cmake" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_FLAGS="-Wall -Wextra -Wpedantic -Werror" >/dev/null
cmake --build "$work/cmake" >/dev/null

mkdir "$work/run"
(cd "$work/run" && "$mksample" sample.rbd >/dev/null && "$kestrun" -q sample.rbd >/dev/null)
"$kestrun" --list "$work/run/sample.rbd" >"$work/expected.txt"
for example in "$work/pc/list_and_copy" "$work/cmake/list_and_copy"; do
  "$example" "$work/run/sample.rbd" >"$work/list.txt" || fail "$example: status $?"
  diff "$work/expected.txt" "$work/list.txt" || fail "$example lists otherwise than kestrun --list"
  while read -r _ path; do
    "$example" "$work/run/sample.rbd" "$path" | cmp - "$work/run/sample/$path" ||
      fail "$example: $path differs from what kestrun extracts"
  done <"$work/list.txt"
  if "$example" "$work/run/sample.rbd" no/such/entry >/dev/null 2>"$work/error.txt"; then
    fail "$example: status 0 for an entry that isn't there"
  fi
  grep -q '^no/such/entry: ' "$work/error.txt" || fail "$example: $(cat "$work/error.txt")"
done
echo "The example, built through pkg-config and through find_package against $prefix, lists and copies alike."
