#!/usr/bin/env bash
# libkestrun's writer, each figure weighed against a yardstick measured side
# by side in the same run, on a tmpfs (/dev/shm):
#
#  - one change to a big package: the 4 x 256 MiB workload plus one 4 KiB
#    entry, packed by rbdpack; that entry's data replaced in place by a
#    program on libkestrun (kr_open, kr_writer_begin, kr_writer_put_fd,
#    kr_writer_commit: bench/writer.cpp), against the floor, `cp
#    --reflink=never` of the package (goal: at most 1.10x), and against `zip
#    -u` replacing the same file in a stored zip (`zip -0`) of the same tree
#    (goal: at most 0.5x). The same for removing the entry, against `zip -d`.
#    On a tmpfs a flush costs nothing; on a disk the floor would be `cp &&
#    sync`, since a commit flushes. A change in place also gives back the
#    old file's pages, which cp does not: `cp` then `mv` over the package
#    ("cp+mv") is shown too, the least a replace in place can cost.
#  - memory: the peak resident memory of that replace above the process
#    before kr_open, for the big package and for the 200,000 tiny entries
#    of bench/library.sh (an index of 19 MiB), against 2 x the index + 8 MiB.
#
# Each timed figure is the median of interleaved runs (bench/timeit.py: from
# fork to wait); the contenders take turns, in alternating order. Every
# package and archive is put back as it was before each timed run, untimed.
#
#   bench/writer.sh [--build DIR] [--runs N] [--smoke]
#
#   --build DIR  where the built libkestrun.so and rbdpack are (default
#                build/release)
#   --runs N     runs of each contender (default 9)
#   --smoke      tiny trees, one run: checks that the script works
#
# It is a benchmark, not a test: it prints figures and exits 0 unless
# something fails to run. The machine may be shared: expect some noise.
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/options.sh
bench_options 2,29 "$@"
bench_require "$build/libkestrun.so" "$build/rbdpack" /usr/bin/time c++ zip "$python"

shm=$(mktemp -d /dev/shm/kestrun-writer-bench.XXXXXX)
trap 'rm -rf "$shm"' EXIT

echo "Building the benchmark program in $shm ..."
c++ -O2 -std=c++17 -I include bench/writer.cpp -L "$build" -lkestrun -Wl,-rpath,"$build" \
  -o "$shm/bench_writer"

if [ "$smoke" = 1 ]; then
  large_args=(2 4)
  many_args=(2000 40)
else
  large_args=(4 256)
  many_args=(200000 2000)
fi
echo "Building workloads in $shm ..."
"$python" bench/make_tree.py large "$shm/large.tree" "${large_args[@]}"
"$python" -c 'import random, sys; sys.stdout.buffer.write(random.Random(4).randbytes(4096))' \
  >"$shm/large.tree/big/tiny.bin"
"$python" -c 'import random, sys; sys.stdout.buffer.write(random.Random(5).randbytes(4096))' \
  >"$shm/new.bin"
"$build/rbdpack" "$shm/large.tree" "$shm/pristine.rbd" >/dev/null
(cd "$shm/large.tree" && zip -0 -q -r "$shm/pristine.zip" .)
# Only the packages are needed from here on: the tree's pages go back.
rm -rf "$shm/large.tree"
"$python" bench/make_tree.py many "$shm/many.tree" "${many_args[@]}"
"$build/rbdpack" "$shm/many.tree" "$shm/many.rbd" >/dev/null
many_entry=$(cd "$shm/many.tree" && find . -type f | sed 's|^\./||' | sort | awk 'NR == 1')
rm -rf "$shm/many.tree"
# zip -u takes a file whose time is newer than the archive's entry: the
# replacing bytes, dated later on each run.
mkdir -p "$shm/update/big"
cp "$shm/new.bin" "$shm/update/big/tiny.bin"

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0) ? a / b : 0 }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
timed() { "$python" bench/timeit.py "$shm" "$@" | awk '{ print $1 }'; }

# Puts the package and the zip back as they were, then times one contender.
run_one() {
  local who=$1 run=$2
  cp "$shm/pristine.rbd" "$shm/pkg.rbd"
  cp "$shm/pristine.zip" "$shm/pkg.zip"
  rm -f "$shm/copy.rbd"
  touch -d "@$((2000000000 + run * 10))" "$shm/update/big/tiny.bin"
  case "$who" in
    replace) timed "$shm/bench_writer" replace pkg.rbd big/tiny.bin new.bin ;;
    remove) timed "$shm/bench_writer" remove pkg.rbd big/tiny.bin ;;
    cp) timed cp --reflink=never pkg.rbd copy.rbd ;;
    cp+mv) timed sh -c 'cp --reflink=never pkg.rbd copy.rbd && mv copy.rbd pkg.rbd' ;;
    zip-u) "$python" bench/timeit.py "$shm/update" zip -0 -q -u ../pkg.zip big/tiny.bin |
      awk '{ print $1 }' ;;
    zip-d) timed zip -q -d pkg.zip big/tiny.bin ;;
  esac
}

: >"$shm/times.txt"
contenders=(replace remove cp cp+mv zip-u zip-d)
for ((run = 1; run <= runs; run++)); do
  order=("${contenders[@]}")
  if ((run % 2 == 0)); then
    order=($(printf '%s\n' "${contenders[@]}" | tac))
  fi
  for who in "${order[@]}"; do
    echo "$who $(run_one "$who" "$run")" >>"$shm/times.txt"
    if [ "$run" = 1 ] && [ "$who" = replace ]; then
      # The edit did what it says: the entry's bytes are the new ones.
      "$build/kestrun" -O "$shm/pkg.rbd" big/tiny.bin 2>/dev/null | cmp -s - "$shm/new.bin" ||
        [ ! -x "$build/kestrun" ] || { echo "the replaced entry differs" >&2; exit 1; }
    fi
  done
done
column_median() { awk -v t="$1" '$1 == t { print $2 }' "$shm/times.txt" | median; }
replace=$(column_median replace)
remove=$(column_median remove)
floor=$(column_median cp)
floor_mv=$(column_median cp+mv)
zip_u=$(column_median zip-u)
zip_d=$(column_median zip-d)
size=$(stat -c %s "$shm/pristine.rbd")

echo
echo "== libkestrun's writer, medians of $runs interleaved runs on tmpfs"
echo
# One line for each edit: its time, then each yardstick and the ratio to it.
report() {
  local what=$1 time=$2 zip_name=$3 zip_time=$4
  printf '%s one 4 KiB entry of %s MiB: %.3f s; cp --reflink=never %.3f s: %sx the floor (goal <= 1.10); cp+mv %.3f s: %sx; %s %.3f s: %sx %s (goal <= 0.50)\n' \
    "$what" "$(mib $((size / 1024)))" "$time" "$floor" "$(ratio "$time" "$floor")" "$floor_mv" \
    "$(ratio "$time" "$floor_mv")" "$zip_name" "$zip_time" "$(ratio "$time" "$zip_time")" "$zip_name"
}
report replace "$replace" "zip -u" "$zip_u"
report remove "$remove" "zip -d" "$zip_d"

# --- memory ------------------------------------------------------------------
cp "$shm/pristine.rbd" "$shm/pkg.rbd"
for load in pkg many; do
  entry=big/tiny.bin
  [ "$load" = many ] && entry=$many_entry
  read -r peak index entries < <("$shm/bench_writer" memory "$shm/$load.rbd" "$entry" "$shm/new.bin")
  bound=$((2 * index + 8192))
  echo "memory, replace in $load.rbd ($entries entries): peak $(mib "$peak") MiB above the" \
    "process before kr_open; index $(mib "$index") MiB, bound 2 x index + 8 MiB =" \
    "$(mib "$bound") MiB: $(ratio "$peak" "$bound")x the bound (goal <= 1.00)"
done
