#!/usr/bin/env bash
# The installed tree works wherever it lies. A build configured with a libdir
# two levels deep, as Debian's multiarch one is, is installed into a scratch
# prefix other than its configured one and then moved; its rbdpack and kestrun
# then pack, extract and edit a tree there with nothing from the environment,
# so kestrun can only have found libhostkit, and rbdpack libkestrun, through
# their own run paths.
# Arguments: the source directory, the CMake generator, the C++ compiler.
set -euo pipefail
source_dir=$1 generator=$2 compiler=$3
libdir=lib/x86_64-linux-gnu

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAILED: $*"
  exit 1
}

# The page for browsers (KESTRUN_WEB_PAGE) has nothing to find at run time.
cmake -S "$source_dir" -B "$work/build" -G "$generator" -DCMAKE_CXX_COMPILER="$compiler" \
  -DCMAKE_BUILD_TYPE=Debug -DBUILD_TESTING=OFF -DKESTRUN_WEB_PAGE=OFF \
  -DCMAKE_INSTALL_LIBDIR="$libdir" >/dev/null
cmake --build "$work/build" -j 2 >/dev/null
cmake --install "$work/build" --prefix "$work/installed" >/dev/null
mv "$work/installed" "$work/moved"
prefix=$work/moved

# libhostkit is private: in libdir/kestrun/ alone, and with no development link.
[ -e "$prefix/$libdir/kestrun/libhostkit.so.1" ] || fail "no $libdir/kestrun/libhostkit.so.1"
outside=$(find "$prefix" -name 'libhostkit*' -not -path "$prefix/$libdir/kestrun/*")
[ -z "$outside" ] || fail "libhostkit outside $libdir/kestrun/: $outside"
[ -z "$(find "$prefix" -name libhostkit.so)" ] || fail "a development link libhostkit.so"
# rbdpack needs no libhostkit; it finds libkestrun through its own run path.
dynamic=$(readelf -d "$prefix/bin/rbdpack")
if grep -E 'libhostkit' <<<"$dynamic"; then
  fail "rbdpack links libhostkit"
fi

mkdir -p "$work/run/tree/dir" "$work/run/out"
printf 'kept across the move\n' >"$work/run/tree/dir/file"
(cd "$work/run" && env -i "$prefix/bin/rbdpack" tree pkg.rbd) >"$work/pack.txt" 2>&1 ||
  fail "rbdpack: $(cat "$work/pack.txt")"
(cd "$work/run/out" && env -i "$prefix/bin/kestrun" ../pkg.rbd) >"$work/extract.txt" 2>&1 ||
  fail "kestrun: $(cat "$work/extract.txt")"
[ "$(tail -n 1 "$work/extract.txt")" = "Done!" ] || fail "kestrun: $(cat "$work/extract.txt")"
cmp "$work/run/tree/dir/file" "$work/run/out/pkg/dir/file"
(cd "$work/run" && env -i "$prefix/bin/rbdpack" --rename pkg.rbd dir/file dir/moved) \
  >"$work/edit.txt" 2>&1 || fail "rbdpack --rename: $(cat "$work/edit.txt")"
# kestrun-mount, where it is built, finds libkestrun through its run path.
if [ -e "$prefix/bin/kestrun-mount" ]; then
  env -i "$prefix/bin/kestrun-mount" --help >"$work/mount.txt" 2>&1 ||
    fail "kestrun-mount: $(cat "$work/mount.txt")"
fi
echo "The tree installed with LIBDIR=$libdir works where it was moved."
