#!/usr/bin/env bash
# The library as a user gets it from `cmake --install`: the release build (made
# by the test workflow) installed into a scratch prefix, and the example built
# against it through pkg-config and through find_package.
set -euo pipefail
cd "$(dirname "$0")/../.."

cmake --preset release >/dev/null
cmake --build --preset release
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install build/release --prefix "$prefix" >/dev/null
bash .ci/build-example.sh "$prefix" build/release/mksample build/release/kestrun
# The README shows the example as it is: the section's first C block.
# shellcheck disable=SC2016 # the backquotes are the README's, not the shell's
diff <(sed -n '/^## The library/,/^## /p' README.md | sed -n '/^```c$/,/^```$/{p;/^```$/q}' |
  sed '1d;$d') \
  examples/list_and_copy.c
