#!/usr/bin/env bash
# libkestrun's speed and memory, each figure weighed against a yardstick
# measured side by side in the same run, on a tmpfs (/dev/shm):
#
#  - open and find: kr_open of a package of 200,000 entries and kr_find of
#    every path, against libzip's zip_open of a stored (zip -0) archive of
#    the same tree and zip_name_locate of every name. Goal: at most 0.5x.
#  - kr_read_to_fd of the 4 x 256 MiB workload into files, against the floor
#    of bench/run.sh (kestrun_floor, mapped and by sendfile; the faster).
#    Goal: at most 1.10x.
#  - kr_read of every entry of the small workload (20,000 files) by 2
#    threads against 1 thread, MiB/s. Goal: at least 1.6x. Plain pread of
#    the same bytes by 1 and 2 threads, in the same passes, shows what the
#    machine gives a second thread.
#  - memory: the peak resident memory that kr_open adds, and what it holds
#    once open, for each workload and for 200,000 entries under a group
#    path of 230 bytes, against 1.5 x (the index's bytes + the bytes of all
#    entry paths) + 4 MiB.
#
# Each timed figure is the median of interleaved runs: the contenders take
# turns, in alternating order. Open-and-find and the threads time only their
# work, from inside the program (bench/library.cpp, bench/zip_find.c); the
# copy is timed from fork to wait (bench/timeit.py) like the floor.
#
#   bench/library.sh [--build DIR] [--runs N] [--smoke]
#
#   --build DIR  where the built libkestrun.so, rbdpack and kestrun_floor are
#                (default build/release)
#   --runs N     runs of each contender (default 9)
#   --smoke      tiny trees, one run: checks that the script works
#
# It is a benchmark, not a test: it prints figures and exits 0 unless
# something fails to run. The machine may be shared: expect some noise.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
. bench/options.sh
bench_options 2,30 "$@"
bench_require "$build/libkestrun.so" "$build/rbdpack" "$build/kestrun_floor" /usr/bin/time c++ cc "$python"

shm=$(mktemp -d /dev/shm/kestrun-library-bench.XXXXXX)
trap 'rm -rf "$shm"' EXIT

echo "Building the benchmark programs in $shm ..."
c++ -O2 -std=c++17 -pthread -I include bench/library.cpp -L "$build" -lkestrun \
  -Wl,-rpath,"$build" -o "$shm/bench_library"
zip_bench=
if [ -e /usr/include/zip.h ] && command -v zip >/dev/null; then
  cc -O2 -std=c11 bench/zip_find.c -lzip -o "$shm/bench_zip"
  zip_bench=$shm/bench_zip
else
  echo "libzip's headers or zip not installed (Debian packages libzip-dev, zip): left out" >&2
fi

if [ "$smoke" = 1 ]; then
  many_args=(2000 40)
  small_args=(200 20)
  large_args=(2 4)
  long_args=(2000 230)
else
  many_args=(200000 2000)
  small_args=(20000 300)
  large_args=(4 256)
  long_args=(200000 230)
fi
echo "Building workloads in $shm ..."
"$python" bench/make_tree.py many "$shm/many.tree" "${many_args[@]}"
"$python" bench/make_tree.py small "$shm/small.tree" "${small_args[@]}"
"$python" bench/make_tree.py large "$shm/large.tree" "${large_args[@]}"
"$python" bench/make_tree.py long "$shm/long.tree" "${long_args[@]}"
for load in many small large long; do
  "$build/rbdpack" "$shm/$load.tree" "$shm/$load.rbd" >/dev/null
done
(cd "$shm/many.tree" && find . -type f | sed 's|^\./||') >"$shm/many.names"
if [ -n "$zip_bench" ]; then
  (cd "$shm/many.tree" && zip -0 -q -r "$shm/many.zip" .)
fi
# Only the packages are needed from here on: the trees' pages go back.
find "$shm/many.tree" "$shm/long.tree" -type f -delete

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0) ? a / b : 0 }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

# --- open and find ---------------------------------------------------------
entries=$(wc -l <"$shm/many.names")
: >"$shm/kr.txt"
: >"$shm/zip.txt"
for ((run = 1; run <= runs; run++)); do
  order=(kr zip)
  if ((run % 2 == 0)); then
    order=(zip kr)
  fi
  for who in "${order[@]}"; do
    if [ "$who" = kr ]; then
      "$shm/bench_library" find "$shm/many.rbd" "$shm/many.names" >>"$shm/kr.txt"
    elif [ -n "$zip_bench" ]; then
      "$zip_bench" "$shm/many.zip" "$shm/many.names" >>"$shm/zip.txt"
    fi
  done
done
kr_find=$(median <"$shm/kr.txt")
echo
echo "== libkestrun, medians of $runs interleaved runs on tmpfs"
echo
printf 'open + find %s paths:   kr_open+kr_find %.4f s' "$entries" "$kr_find"
if [ -n "$zip_bench" ]; then
  zip_find=$(awk '{ print $1 }' "$shm/zip.txt" | median)
  zip_open=$(awk '{ print $2 }' "$shm/zip.txt" | median)
  printf ', libzip zip_open+zip_name_locate %.4f s (zip_open %.4f s): %sx libzip (goal <= 0.50)\n' \
    "$zip_find" "$zip_open" "$(ratio "$kr_find" "$zip_find")"
else
  echo
fi

# --- memory ----------------------------------------------------------------
for load in many long small large; do
  read -r peak held index_bytes path_bytes opened < <("$shm/bench_library" memory "$shm/$load.rbd")
  bound=$(((3 * (index_bytes + path_bytes)) / 2048 + 4096))
  echo "memory, open of $load ($opened entries): peak $(mib "$peak") MiB, held $(mib "$held") MiB" \
    "above the process before kr_open; index $(mib $((index_bytes / 1024))) MiB + paths" \
    "$(mib $((path_bytes / 1024))) MiB, bound 1.5 x (index + paths) + 4 MiB = $(mib "$bound") MiB:" \
    "peak $(ratio "$peak" "$bound")x the bound (goal <= 1.00)"
done

# --- kr_read_to_fd against the floor ----------------------------------------
: >"$shm/copy.txt"
tools=(copy floor floor-sf)
for ((run = 1; run <= runs; run++)); do
  order=("${tools[@]}")
  if ((run % 2 == 0)); then
    order=($(printf '%s\n' "${tools[@]}" | tac))
  fi
  for tool in "${order[@]}"; do
    out=$shm/out
    rm -rf "$out"
    mkdir -p "$out"
    case "$tool" in
      copy) command=("$shm/bench_library" copy "$shm/large.rbd" .) ;;
      floor) command=("$build/kestrun_floor" "$shm/large.rbd") ;;
      floor-sf) command=("$build/kestrun_floor" --sendfile "$shm/large.rbd") ;;
    esac
    echo "$tool $("$python" bench/timeit.py "$out" "${command[@]}")" >>"$shm/copy.txt"
    if [ "$tool" = copy ] && [ "$run" = 1 ]; then
      # The copies are the tree's files, whatever order the entries are in.
      diff <(cd "$out" && sha1sum -- * | cut -d' ' -f1 | sort) \
        <(cd "$shm/large.tree" && find . -type f -exec sha1sum {} + | cut -d' ' -f1 | sort) \
        >/dev/null || { echo "kr_read_to_fd copies differ from the large tree" >&2; exit 1; }
    fi
    rm -rf "$out"
  done
done
column_median() { awk -v t="$1" '$1 == t { print $2 }' "$shm/copy.txt" | median; }
copy_wall=$(column_median copy)
floor_wall=$( (column_median floor; column_median floor-sf) | sort -n | head -1)
printf 'kr_read_to_fd, %s x %s MiB into files: %.3f s, floor %.3f s (mapped %.3f, sendfile %.3f):' \
  "${large_args[0]}" "${large_args[1]}" "$copy_wall" "$floor_wall" "$(column_median floor)" \
  "$(column_median floor-sf)"
echo " $(ratio "$copy_wall" "$floor_wall")x the floor (goal <= 1.10)"

# --- kr_read by 2 threads against 1 -----------------------------------------
# Plain pread of the same bytes, by 1 and 2 threads in the same passes, shows
# what a second thread can gain on the machine at that moment.
"$shm/bench_library" threads "$shm/small.rbd" "$runs" >"$shm/threads.txt"
rate() { awk -v c="$1" '{ print $c }' "$shm/threads.txt" | median; }
echo "kr_read of ${small_args[0]} small entries: 1 thread $(rate 1) MiB/s, 2 threads $(rate 2)" \
  "MiB/s: $(ratio "$(rate 2)" "$(rate 1)")x (goal >= 1.60); plain pread $(rate 3) and $(rate 4)" \
  "MiB/s: $(ratio "$(rate 4)" "$(rate 3)")x"
