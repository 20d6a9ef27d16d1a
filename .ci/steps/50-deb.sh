#!/usr/bin/env bash
# Builds the Debian package from the release build, installs it as a user
# would, extracts a sample package with the installed kestrun, reads its man
# page, and removes the package again.
set -euo pipefail
cd "$(dirname "$0")/../.."

for page in man/*.1; do
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  if [ -n "$warnings" ]; then
    echo "$page: $warnings"
    exit 1
  fi
done

cmake --preset release >/dev/null
cmake --build --preset release
(cd build/release && rm -f kestrun_*.deb && cpack -G DEB)
deb=$(ls build/release/kestrun_*.deb)
dpkg-deb --info "$deb" | sed -n '/Package:/,$p'

work=$(mktemp -d)
export DEBIAN_FRONTEND=noninteractive
trap 'apt-get purge -y -qq kestrun >/dev/null; rm -rf "$work"' EXIT
apt-get install -y -qq "./$deb"

build/release/mksample "$work/sample.rbd" >/dev/null
# The installed program, found on the PATH, run in a directory of its own.
[ "$(command -v kestrun)" = /usr/bin/kestrun ]
(cd "$work" && env -i PATH=/usr/bin:/bin kestrun sample.rbd) | tee "$work/out.txt"
grep -qx 'Done!' "$work/out.txt"
cmp <(printf 'This tree came out of sample.rbd.\n') "$work/sample/data/txt/readme.txt"

man -w kestrun
MANWIDTH=80 man kestrun | grep -q 'extract the files of an RBD package'

# rbdpack, when the build has it: pack the extracted tree again and compare.
if dpkg -L kestrun | grep -qx /usr/bin/rbdpack; then
  (cd "$work" && env -i PATH=/usr/bin:/bin rbdpack sample again.rbd &&
    mkdir round && cd round && env -i PATH=/usr/bin:/bin kestrun ../again.rbd >/dev/null)
  diff -r "$work/sample" "$work/round/again"
  MANWIDTH=80 man rbdpack | grep -q 'make an RBD package from a directory tree'
fi
echo "Debian package: installed, ran and documented."
