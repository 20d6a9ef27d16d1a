#!/usr/bin/env bash
# Builds the Debian package (the `deb` workflow: the release build laid out
# for /usr), has lintian check it, installs it as a user would, extracts a
# sample package with the installed kestrun, reads its man page, and removes
# the package again.
set -euo pipefail
cd "$(dirname "$0")/../.."

rm -f build/deb/kestrun_*.deb
cmake --workflow --preset deb
deb=$(ls build/deb/kestrun_*.deb)
dpkg-deb --info "$deb" | sed -n '/Package:/,$p'

# The man pages as installed, with the version filled in.
for page in build/deb/man/*.1; do
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  if [ -n "$warnings" ]; then
    echo "$page: $warnings"
    exit 1
  fi
done

# Any error or warning fails. A warning accepted on purpose would go, with its
# reason, into a lintian overrides file installed with the package; none is
# needed today. Lintian's notice about running as root is no finding.
echo "lintian"
lintian --fail-on error,warning --tag-display-limit 0 "$deb" 2> >(grep -v 'running with root privileges' >&2)

work=$(mktemp -d)
export DEBIAN_FRONTEND=noninteractive
trap 'apt-get purge -y -qq kestrun >/dev/null; rm -rf "$work"' EXIT
apt-get install -y -qq "./$deb"

build/deb/mksample "$work/sample.rbd" >/dev/null
# The installed program, found on the PATH, run in a directory of its own.
[ "$(command -v kestrun)" = /usr/bin/kestrun ]
(cd "$work" && env -i PATH=/usr/bin:/bin kestrun sample.rbd) | tee "$work/out.txt"
grep -qx 'Done!' "$work/out.txt"
cmp <(printf 'This tree came out of sample.rbd.\n') "$work/sample/data/txt/readme.txt"

# libhostkit is private: in the project's own directory, out of the linker's
# search path, with no development link.
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
dpkg -L kestrun | grep -qx "/usr/lib/$multiarch/kestrun/libhostkit.so.1"
if dpkg -L kestrun | grep -E '/libhostkit\.so$|^/usr/lib/[^/]*\.so|^/usr/lib/[^/]*/[^/]*\.so'; then
  echo "libhostkit installed as a public library"
  exit 1
fi

man -w kestrun
# The version the build filled in.
grep -q "kestrun $(dpkg-query -W -f='${Version}' kestrun)" <<<"$(MANWIDTH=80 man kestrun)"
MANWIDTH=80 man kestrun | grep -q 'extract the files of an RBD package'

# rbdpack, when the build has it: pack the extracted tree again and compare.
if dpkg -L kestrun | grep -qx /usr/bin/rbdpack; then
  (cd "$work" && env -i PATH=/usr/bin:/bin rbdpack sample again.rbd &&
    mkdir round && cd round && env -i PATH=/usr/bin:/bin kestrun ../again.rbd >/dev/null)
  diff -r "$work/sample" "$work/round/again"
  MANWIDTH=80 man rbdpack | grep -q 'make an RBD package from a directory tree'
fi
echo "Debian package: installed, ran and documented."
