#!/usr/bin/env bash
# Builds the Debian packages (the `deb` workflow: the release build laid out
# for /usr): kestrun, libkestrun1, libkestrun-dev and kestrun-web. Has lintian check them
# and the library's symbols file, installs them as a user would, extracts a
# sample package with the installed kestrun, reads the man pages, builds the
# example against the installed library, and removes the packages again.
set -euo pipefail
cd "$(dirname "$0")/../.."

packages=(kestrun libkestrun1 libkestrun-dev kestrun-web)
rm -f build/deb/*.deb
cmake --workflow --preset deb
debs=()
for package in "${packages[@]}"; do
  debs+=("$(ls build/deb/"$package"_*.deb)")
done
for deb in "${debs[@]}"; do
  dpkg-deb --field "$deb" Package Version Section Depends
done

# The man pages as installed, with the version filled in.
for page in build/deb/man/*.1 build/deb/man/*.3; do
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
lintian --fail-on error,warning --tag-display-limit 0 "${debs[@]}" 2> >(grep -v 'running with root privileges' >&2)

# The symbols file names every symbol libkestrun.so.1 exports, no more and no
# fewer: a new one must be recorded there with the version that brings it.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "dpkg-gensymbols"
version=$(dpkg-deb --field "${debs[1]}" Version)
symbols=$PWD/packaging/debian/libkestrun1.symbols library=$PWD/build/deb/libkestrun.so.1
(cd "$work" && dpkg-gensymbols -plibkestrun1 -v"$version" -e"$library" -I"$symbols" -O/dev/null -c4)

export DEBIAN_FRONTEND=noninteractive
trap 'apt-get purge -y -qq "${packages[@]}" >/dev/null; rm -rf "$work"' EXIT
apt-get install -y -qq "${debs[@]/#/./}"

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
# The library: in the linker's path and cache, its development link in
# libkestrun-dev alone; then the example built against it as installed.
dpkg -L libkestrun1 | grep -qx "/usr/lib/$multiarch/libkestrun.so.1"
grep -q "libkestrun.so.1 .*/lib/$multiarch/libkestrun.so.1" <<<"$(ldconfig -p)"
if dpkg -L libkestrun1 | grep -E '\.so$|/include/|\.pc$'; then
  echo "development files in libkestrun1"
  exit 1
fi
dpkg -L libkestrun-dev | grep -qx "/usr/lib/$multiarch/libkestrun.so"
grep -q 'read, extract and write RBD packages' <<<"$(MANWIDTH=80 man 3 libkestrun)"
bash .ci/build-example.sh /usr build/deb/mksample kestrun
# The page: one file that needs nothing else, and may make no request.
dpkg -L kestrun-web | grep -qx /usr/share/kestrun-web/index.html
grep -q "connect-src 'none'" /usr/share/kestrun-web/index.html
echo "Debian packages: installed, ran, documented and built against."
