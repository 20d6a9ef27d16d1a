#!/usr/bin/env bash
# Extraction speed and peak memory of kestrun against the floor (kestrun_floor,
# the least work an extraction can take), GNU tar and bsdtar, on the same
# trees: many small files, and a few large entries. The floor runs twice,
# writing from its mapping of the package ("floor") and by sendfile
# ("floor-sf"); wall/floor is the ratio to the faster of the two. Every run
# extracts into a fresh directory on a tmpfs (/dev/shm), with output thrown
# away; the tools take turns, and each figure is the median of its runs
# (best-s is the fastest run). Only the extraction is timed (bench/timeit.py:
# from fork to wait, the command run by /usr/bin/time for its peak memory).
# CPU time (user + system) is shown too: it suffers less than wall time when
# other work shares the machine. "progress" is kestrun in option mode with its
# status line on (--progress, standard error thrown away): the price of the
# line against the plain run. "j1", "j2" and "j4" are the plain run with 1, 2
# and 4 workers (KESTRUN_JOBS); "kestrun" has the default, the processors it
# may run on, at most 8. wall/sf is the ratio to floor-sf alone, the one-thread
# floor that the workers are measured against.
#
#   bench/run.sh [--build DIR] [--baseline DIR] [--runs N] [--disk] [--smoke]
#
#   --build DIR  where the built kestrun, kestrun_floor and rbdpack are
#                (default build/release)
#   --baseline DIR  also time the kestrun built in DIR, as "baseline", to
#                weigh a change in the same run
#   --runs N     runs of each tool on each workload (default 7)
#   --disk       also time the same extractions on the real disk (under build/)
#   --smoke      tiny trees, one run: checks that the script works
#
# It is a benchmark, not a test: it prints a table and always exits 0 unless
# something fails to run. The machine may be shared, so expect some noise.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

build=build/release
baseline=
runs=7
disk=0
smoke=0
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --baseline) baseline=$(cd "$2" && pwd); shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --disk) disk=1; shift ;;
    --smoke) smoke=1; runs=1; shift ;;
    *) sed -n '2,30p' "$0"; exit 1 ;;
  esac
done
build=$(cd "$build" && pwd)
for tool in "$build/kestrun" "$build/kestrun_floor" "$build/rbdpack" /usr/bin/time tar python3; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
tools=(kestrun j1 j2 j4 progress floor floor-sf gnutar)
if [ -n "$baseline" ]; then
  tools+=(baseline)
fi
if command -v bsdtar >/dev/null; then
  tools+=(bsdtar)
else
  echo "bsdtar not installed (Debian package libarchive-tools): left out" >&2
fi

shm=$(mktemp -d /dev/shm/kestrun-bench.XXXXXX)
scratch=$shm
trap 'rm -rf "$shm" "${diskdir:-}"' EXIT

if [ "$smoke" = 1 ]; then
  small_args=(200 20)
  large_args=(2 4)
else
  small_args=(20000 300)
  large_args=(4 256)
fi

echo "Building workloads in $shm ..."
python3 bench/make_tree.py small "$shm/small.tree" "${small_args[@]}"
python3 bench/make_tree.py large "$shm/large.tree" "${large_args[@]}"
for load in small large; do
  "$build/rbdpack" "$shm/$load.tree" "$shm/$load.rbd" >/dev/null
  tar -cf "$shm/$load.tar" -C "$shm/$load.tree" .
done

# Runs one extraction in a fresh directory; prints "wall-seconds peak-KiB
# cpu-seconds" (CPU time is user + system).
extract() {
  local tool=$1 load=$2 where=$3
  local out="$where/out"
  rm -rf "$out"
  mkdir -p "$out"
  local command quiet=()
  case "$tool" in
    kestrun) command=("$build/kestrun" "$shm/$load.rbd") ;;
    j[0-9]) command=(env "KESTRUN_JOBS=${tool#j}" "$build/kestrun" "$shm/$load.rbd") ;;
    progress) command=("$build/kestrun" --progress "$shm/$load.rbd"); quiet=(--quiet) ;;
    baseline) command=("$baseline/kestrun" "$shm/$load.rbd") ;;
    floor) command=("$build/kestrun_floor" "$shm/$load.rbd") ;;
    floor-sf) command=("$build/kestrun_floor" --sendfile "$shm/$load.rbd") ;;
    gnutar) command=(tar -xf "$shm/$load.tar") ;;
    bsdtar) command=(bsdtar -xf "$shm/$load.tar") ;;
  esac
  python3 "$root/bench/timeit.py" "${quiet[@]}" "$out" "${command[@]}"
}

# Every output of kestrun and the floor is compared with its tree once, so a
# fast wrong extraction can't pass unnoticed.
check() {
  local tool=$1 load=$2 where=$3
  diff -r "$shm/$load.tree" "$where/out/$load" >/dev/null ||
    { echo "$tool output differs from the $load tree" >&2; exit 1; }
}

# Column $4 of the results of tool $3 on workload $2, one a line.
column_of() { awk -v l="$2" -v t="$3" -v c="$4" '$1 == l && $2 == t { print $c }' "$1"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { print (b > 0) ? a / b : 0 }'; }
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Times every tool on both workloads under directory $1, labelled $2.
measure() {
  local where=$1 label=$2
  local results="$shm/results.txt"
  : >"$results"
  for load in small large; do
    for ((run = 1; run <= runs; run++)); do
      # Turn about, so that no tool always runs right after the same other.
      local order=("${tools[@]}")
      if ((run % 2 == 0)); then
        order=($(printf '%s\n' "${tools[@]}" | tac))
      fi
      for tool in "${order[@]}"; do
        local figures
        figures=$(extract "$tool" "$load" "$where")
        echo "$load $tool $figures" >>"$results"
        if [[ "$tool" != *tar ]] && [ "$run" = 1 ]; then
          check "$tool" "$load" "$where"
        fi
        rm -rf "$where/out"
        # On a disk, let the last run's writeback finish outside the timing.
        if [ "$where" != "$scratch" ]; then
          sync
        fi
      done
    done
  done
  echo
  echo "== $label: median of $runs runs"
  printf '%-8s %-8s %8s %8s %9s %8s %9s %8s %9s %9s\n' workload tool wall-s best-s wall/floor \
    wall/sf wall/tar cpu-s cpu/tar peak-MiB
  for load in small large; do
    local floor_wall sf_wall tar_wall tar_cpu
    sf_wall=$(column_of "$results" "$load" floor-sf 3 | median)
    floor_wall=$( (column_of "$results" "$load" floor 3 | median
      column_of "$results" "$load" floor-sf 3 | median) | sort -n | head -1)
    tar_wall=$(column_of "$results" "$load" gnutar 3 | median)
    tar_cpu=$(column_of "$results" "$load" gnutar 5 | median)
    for tool in "${tools[@]}"; do
      local wall best peak cpu
      wall=$(column_of "$results" "$load" "$tool" 3 | median)
      best=$(column_of "$results" "$load" "$tool" 3 | sort -n | head -1)
      peak=$(column_of "$results" "$load" "$tool" 4 | median)
      cpu=$(column_of "$results" "$load" "$tool" 5 | median)
      printf '%-8s %-8s %8.3f %8.3f %8.2fx %7.2fx %8.2fx %8.2f %8.2fx %9.1f\n' "$load" "$tool" \
        "$wall" "$best" "$(ratio "$wall" "$floor_wall")" "$(ratio "$wall" "$sf_wall")" \
        "$(ratio "$wall" "$tar_wall")" "$cpu" \
        "$(ratio "$cpu" "$tar_cpu")" "$(awk -v k="$peak" 'BEGIN { print k / 1024 }')"
    done
  done
  if [ -n "${BENCH_RAW:-}" ]; then
    cp "$results" "$BENCH_RAW"
  fi
}

echo "kestrun: $build/kestrun; $(tar --version | head -1); $(bsdtar --version 2>/dev/null || true)"
echo "largest entry: $(find "$shm/large.tree" -type f -printf '%s\n' | sort -n | tail -1) bytes"
measure "$scratch" "tmpfs (/dev/shm)"
if [ "$disk" = 1 ]; then
  diskdir=$(mktemp -d "$root/build/bench-disk.XXXXXX")
  measure "$diskdir" "real disk ($diskdir)"
fi
