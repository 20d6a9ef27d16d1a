#!/usr/bin/env bash
# The Debian package kestrun-mount, as the `deb` workflow makes it beside
# libkestrun1: lintian checks it and its man page, then it is installed with
# libkestrun1 as a user would; the installed kestrun-mount mounts the sample
# package and shows exactly the tree that kestrun extracts from it, the
# daemon exits 0 once unmounted, and removing the package leaves nothing
# behind.
set -euo pipefail
cd "$(dirname "$0")/../.."

work=$(mktemp -d)
mnt=$work/mnt
trap 'rm -rf "$work"' EXIT
rm -f build/deb/kestrun-mount_*.deb build/deb/libkestrun1_*.deb
if ! cmake --workflow --preset deb >"$work/deb.log" 2>&1; then
  cat "$work/deb.log"
  exit 1
fi
deb=$(ls build/deb/kestrun-mount_*.deb)
lib=$(ls build/deb/libkestrun1_*.deb)
dpkg-deb --field "$deb" Package Version Section Depends
dpkg-deb --field "$deb" Depends | grep -q '\bfuse3\b'
# Any libkestrun1 from this version on serves the program, as the library's
# shlibs file says: never one exact version.
dpkg-deb --field "$deb" Depends | grep -qE 'libkestrun1 \(>= [0-9.]+\)'

warnings=$(MANWIDTH=80 man --warnings -l build/deb/man/kestrun-mount.1 2>&1 >/dev/null)
if [ -n "$warnings" ]; then
  echo "kestrun-mount.1: $warnings"
  exit 1
fi
echo "lintian"
lintian --fail-on error,warning --tag-display-limit 0 "$deb" 2> >(grep -v 'running with root privileges' >&2)

export DEBIAN_FRONTEND=noninteractive
# Each package is purged on its own: apt-get purges none of a list that
# names one it does not know (any more).
daemon=
trap 'if mountpoint -q "$mnt"; then fusermount3 -u "$mnt" || umount -l "$mnt"; fi
  if [ -n "$daemon" ]; then kill "$daemon" 2>/dev/null || true; fi
  for p in kestrun-mount libkestrun1; do apt-get purge -y -qq "$p" >/dev/null 2>&1 || true; done
  rm -rf "$work"' EXIT
apt-get install -y -qq "./$lib" "./$deb" >/dev/null

build/deb/mksample "$work/sample.rbd" >/dev/null
kestrun=$PWD/build/deb/kestrun
(cd "$work" && "$kestrun" sample.rbd >/dev/null)
[ "$(command -v kestrun-mount)" = /usr/bin/kestrun-mount ]
mkdir "$mnt"
# In the foreground, as the daemon's exit status is wanted.
(cd "$work" && exec env -i PATH=/usr/bin:/bin kestrun-mount -f sample.rbd mnt) &
daemon=$!
for _ in $(seq 500); do
  mountpoint -q "$mnt" && break
  sleep 0.01
done
diff -r "$mnt" "$work/sample"
fusermount3 -u "$mnt"
wait "$daemon"

grep -q "kestrun $(dpkg-query -W -f='${Version}' kestrun-mount)" <<<"$(MANWIDTH=80 man kestrun-mount)"
MANWIDTH=80 man kestrun-mount | grep -q 'mount an RBD package as a read-only file system'

apt-get purge -y -qq kestrun-mount >/dev/null
if [ -e /usr/bin/kestrun-mount ] || [ -e /usr/share/doc/kestrun-mount ]; then
  echo "kestrun-mount left files behind"
  exit 1
fi
echo "Debian package kestrun-mount: lintian-clean, installed, mounted, unmounted and removed."
