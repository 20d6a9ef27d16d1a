# What bench/library.sh, writer.sh and rbdpack.sh share, sourced from the
# project's root: their options and the check that what they run is there.
python=/usr/bin/python3
build=build/release
runs=9
smoke=0

# bench_options USAGE ARG...: --build DIR, --runs N and --smoke; any other
# word prints the script's usage, its lines USAGE (a sed range, "2,30"), and
# ends it.
bench_options() {
  local usage=$1
  shift
  while [ $# -gt 0 ]; do
    case "$1" in
      --build) build=$2; shift 2 ;;
      --runs) runs=$2; shift 2 ;;
      --smoke) smoke=1; runs=1; shift ;;
      *) sed -n "${usage}p" "$0"; exit 1 ;;
    esac
  done
  build=$(cd "$build" && pwd)
}

# bench_require TOOL...: ends the script, naming the first TOOL that is
# neither a command nor a file.
bench_require() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || [ -e "$tool" ] || { echo "missing: $tool" >&2; exit 1; }
  done
}
