#!/usr/bin/env bash
# The Debian package python3-kestrun, as the `deb` workflow makes it beside
# libkestrun1: lintian checks it, then it is installed with libkestrun1 as a
# user would, Debian's Python imports the module from its own path and lists
# a package as kestrun -l does, and removing it leaves nothing behind.
set -euo pipefail
cd "$(dirname "$0")/../.."

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -f build/deb/python3-kestrun_*.deb build/deb/libkestrun1_*.deb
if ! cmake --workflow --preset deb >"$work/deb.log" 2>&1; then
  cat "$work/deb.log"
  exit 1
fi
deb=$(ls build/deb/python3-kestrun_*.deb)
lib=$(ls build/deb/libkestrun1_*.deb)
dpkg-deb --field "$deb" Package Version Section Depends

echo "lintian"
lintian --fail-on error,warning --tag-display-limit 0 "$deb" 2> >(grep -v 'running with root privileges' >&2)

export DEBIAN_FRONTEND=noninteractive
# Each package is purged on its own: apt-get purges none of a list that
# names one it does not know (any more).
trap 'for p in python3-kestrun libkestrun1; do apt-get purge -y -qq "$p" >/dev/null 2>&1 || true; done
  rm -rf "$work"' EXIT
apt-get install -y -qq "./$lib" "./$deb" >/dev/null

build/deb/mksample "$work/sample.rbd" >/dev/null
site=$(/usr/bin/python3 -c 'import sysconfig; print(sysconfig.get_path("platlib", "deb_system"))')
(cd "$work" && env -i PATH=/usr/bin:/bin /usr/bin/python3 -c "import kestrun; print(kestrun.__file__)") |
  grep -qx "$site/kestrun/__init__.py"
(cd "$work" && env -i PATH=/usr/bin:/bin /usr/bin/python3 -m kestrun -l sample.rbd) >"$work/list.txt"
cmp "$work/list.txt" <(build/deb/kestrun -l "$work/sample.rbd")
# postinst compiled the module for Debian's Python.
ls "$site"/kestrun/__pycache__/__init__.cpython-*.pyc >/dev/null

apt-get purge -y -qq python3-kestrun >/dev/null
if [ -e "$site/kestrun" ]; then
  echo "python3-kestrun left $site/kestrun behind:"
  find "$site/kestrun"
  exit 1
fi
echo "Debian package python3-kestrun: lintian-clean, installed, imported and removed."
