#!/usr/bin/env bash
# The module where a user installs it: libkestrun and the module of this build
# tree, installed into a scratch prefix that is not /usr, are imported from
# that prefix as the user's site (PYTHONUSERBASE, as ~/.local is by default)
# with nothing else from the environment, and read a package. The module can
# only have found libkestrun through its run path.
# Arguments: cmake, the build tree, the Python interpreter, python/tests.
set -euo pipefail
cmake=$1 build=$2 python=$3 tests=$4

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAILED: $*"
  exit 1
}

prefix=$(realpath "$work")/user
for component in libkestrun1 python3-kestrun; do
  "$cmake" --install "$build" --component "$component" --prefix "$prefix" >"$work/install.txt" 2>&1 ||
    fail "cmake --install --component $component: $(cat "$work/install.txt")"
done
PYTHONPATH=$tests "$python" -c 'import sys, rbd_bytes
tree = [("files", "g", [("a", b"from the installed module")])]
open(sys.argv[1], "wb").write(rbd_bytes.package(tree))' "$work/p.rbd"

# A sanitized build's module needs the runtime that ctest preloads.
user() {
  (cd "$work" && env -i ${LD_PRELOAD:+"LD_PRELOAD=$LD_PRELOAD"} \
    ${ASAN_OPTIONS:+"ASAN_OPTIONS=$ASAN_OPTIONS"} PYTHONUSERBASE="$prefix" \
    PYTHONDONTWRITEBYTECODE=1 "$python" "$@")
}
site=$(user -c 'import site; print(site.getusersitepackages())')
[ -e "$site/kestrun/__init__.py" ] ||
  fail "kestrun is not in the user site $site; installed: $(find "$prefix" -name '*.py')"
user -c '
import sys, kestrun
site, prefix = sys.argv[1:]
assert kestrun.__file__ == site + "/kestrun/__init__.py", kestrun.__file__
assert kestrun.Package("p.rbd").open("g/a").read() == b"from the installed module"
with open("/proc/self/maps") as maps:
    libraries = {line.split()[-1] for line in maps if "libkestrun.so" in line}
assert libraries and all(lib.startswith(prefix + "/") for lib in libraries), libraries
' "$site" "$prefix" || fail "the installed module did not read the package"
echo "The module installed under $prefix is imported from the user site and reads."
