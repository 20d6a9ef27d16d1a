#!/usr/bin/env bash
# rbdpack's edits in place, each figure beside its yardsticks measured in the
# same run, on a tmpfs (/dev/shm): the round trip of the small tree of
# bench/run.sh (20,000 files of 0-16 KiB in 300 directories), packed by
# rbdpack and extracted by kestrun, with 10 of its files changed (5 keep
# their size, so that only their bytes tell, and 5 grow):
#
#  - update: `rbdpack --update PACKAGE TREE`, which puts the 10 files in
#    place of their entries; against
#  - rebuild: the whole package packed anew, `rbdpack TREE NEW.rbd`;
#  - zip -u: `zip -0 -u -r` of a stored zip (`zip -0`) of the same tree, made
#    before the change, which takes the files newer than their entries.
#
# Where --update's time goes: its dry run (`-n`: the walk of the tree, and
# each file compared with its entry, sizes first, then bytes up to the first
# difference), beside `kestrun --diff TREE PACKAGE`, which compares the same
# way; and the rest, the commit (the package written by kernel copies,
# flushed, and renamed over the old one), beside `cp --reflink=never` of the
# package, the copy alone. Last, the packing form as it would be on the
# writer (bench/pack_with_writer.cpp: each file put with kr_writer_put_fd in
# rbdpack's order) beside rbdpack's own packing (the rebuild): why
# `rbdpack DIR OUT.rbd` keeps its own writer.
#
# Each figure is the median of interleaved runs (bench/timeit.py: from fork
# to wait); the contenders take turns, in alternating order. The package and
# the zip are put back as they were before each timed run, untimed.
#
#   bench/rbdpack.sh [--build DIR] [--runs N] [--smoke]
#
#   --build DIR  where the built rbdpack, kestrun and libkestrun.so are
#                (default build/release)
#   --runs N     runs of each contender (default 9)
#   --smoke      a tiny tree, one run: checks that the script works
#
# It is a benchmark, not a test: it prints figures and exits 0 unless
# something fails to run. The machine may be shared: expect some noise.
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/options.sh
bench_options 2,35 "$@"
bench_require "$build/rbdpack" "$build/kestrun" "$build/libkestrun.so" /usr/bin/time c++ zip "$python"

shm=$(mktemp -d /dev/shm/kestrun-rbdpack-bench.XXXXXX)
trap 'rm -rf "$shm"' EXIT

echo "Building the benchmark program in $shm ..."
c++ -O2 -std=c++17 -I include bench/pack_with_writer.cpp -L "$build" -lkestrun \
  -Wl,-rpath,"$build" -o "$shm/pack_with_writer"

small_args=(20000 300)
[ "$smoke" = 1 ] && small_args=(200 20)
echo "Building the workload in $shm ..."
"$python" bench/make_tree.py small "$shm/small.tree" "${small_args[@]}"
"$build/rbdpack" "$shm/small.tree" "$shm/pristine.rbd" >/dev/null
rm -rf "$shm/small.tree"
# The tree is what an extraction of the package leaves.
(cd "$shm" && "$build/kestrun" -q pristine.rbd && mv pristine tree)
(cd "$shm/tree" && zip -0 -q -r "$shm/pristine.zip" .)
"$build/kestrun" -l "$shm/pristine.rbd" | awk '{ print $2 }' >"$shm/order.txt"
# 10 files spread over the tree: 5 keep their size, 5 grow by a byte. Their
# times are set later than the zip's entries, as an editor leaves them.
sort "$shm/order.txt" | awk -v n="$(wc -l <"$shm/order.txt")" 'NR % int(n / 10) == 1' |
  head -10 >"$shm/changed.txt"
index=0
while read -r path; do
  file=$shm/tree/$path
  if ((index++ % 2 == 0)) && [ -s "$file" ]; then
    printf '\377' | dd of="$file" bs=1 seek=$(($(stat -c %s "$file") - 1)) conv=notrunc \
      status=none
  else
    printf '+' >>"$file"
  fi
  touch -d '@2000000000' "$file"
done <"$shm/changed.txt"

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0) ? a / b : 0 }'; }
timed() { "$python" bench/timeit.py "$shm" "$@" | awk '{ print $1 }'; }

# Puts the package and the zip back as they were, then times one contender.
run_one() {
  local who=$1
  cp "$shm/pristine.rbd" "$shm/pkg.rbd"
  cp "$shm/pristine.zip" "$shm/pkg.zip"
  rm -f "$shm/new.rbd" "$shm/copy.rbd"
  case "$who" in
    update) timed "$build/rbdpack" --update pkg.rbd tree ;;
    dry-run) timed "$build/rbdpack" --update -n pkg.rbd tree ;;
    rebuild) timed "$build/rbdpack" tree new.rbd ;;
    zip-u) "$python" bench/timeit.py "$shm/tree" zip -0 -q -u -r ../pkg.zip . | awk '{ print $1 }' ;;
    diff) "$python" bench/timeit.py "$shm" "$build/kestrun" --diff tree pristine.rbd |
      awk '{ print $1 }' ;;
    cp) timed cp --reflink=never pkg.rbd copy.rbd ;;
    writer-pack) timed "$shm/pack_with_writer" tree order.txt new.rbd ;;
  esac
}

# kestrun --diff ends with status 2 when the two differ, which timeit.py
# takes for a failure: it compares against the package as the update left it.
: >"$shm/times.txt"
contenders=(update dry-run rebuild zip-u cp writer-pack)
for ((run = 1; run <= runs; run++)); do
  order=("${contenders[@]}")
  if ((run % 2 == 0)); then
    order=($(printf '%s\n' "${contenders[@]}" | tac))
  fi
  for who in "${order[@]}"; do
    echo "$who $(run_one "$who")" >>"$shm/times.txt"
    if [ "$run" = 1 ] && [ "$who" = update ]; then
      # The update did what it says: the package now holds the tree, and
      # the lines name exactly the 10 files.
      "$build/kestrun" -q --diff "$shm/tree" "$shm/pkg.rbd" ||
        { echo "the updated package differs from the tree" >&2; exit 1; }
      cp "$shm/pkg.rbd" "$shm/updated.rbd"
      changed=$("$build/rbdpack" -n --update "$shm/pristine.rbd" "$shm/tree" | grep -c '^Replacing ')
      [ "$changed" = 10 ] || { echo "--update replaced $changed entries, not 10" >&2; exit 1; }
    fi
    if [ "$run" = 1 ] && [ "$who" = writer-pack ]; then
      "$build/rbdpack" "$shm/tree" "$shm/check.rbd" >/dev/null
      cmp -s "$shm/new.rbd" "$shm/check.rbd" ||
        { echo "the writer's package is not rbdpack's" >&2; exit 1; }
    fi
  done
done
# The comparison on its own: the updated package against the tree is the
# same walk and the same reads as the dry run's.
cp "$shm/updated.rbd" "$shm/pristine.rbd"
for ((run = 1; run <= runs; run++)); do
  echo "diff $(run_one diff)" >>"$shm/times.txt"
done
column_median() { awk -v t="$1" '$1 == t { print $2 }' "$shm/times.txt" | median; }
update=$(column_median update)
dry=$(column_median dry-run)
rebuild=$(column_median rebuild)
zip_u=$(column_median zip-u)
diff=$(column_median diff)
floor=$(column_median cp)
writer_pack=$(column_median writer-pack)
commit=$(awk -v a="$update" -v b="$dry" 'BEGIN { printf "%.3f", a - b }')
size=$(stat -c %s "$shm/pristine.rbd")

echo
echo "== rbdpack --update, the tree of $(wc -l <"$shm/order.txt") files ($((size >> 20)) MiB)" \
  "with 10 changed, medians of $runs interleaved runs on tmpfs"
echo
printf 'update %.3f s: %sx a rebuild by rbdpack (%.3f s), %sx zip -u (%.3f s)\n' \
  "$update" "$(ratio "$update" "$rebuild")" "$rebuild" "$(ratio "$update" "$zip_u")" "$zip_u"
printf '  its dry run (walk, compare) %.3f s: %sx kestrun --diff (%.3f s)\n' \
  "$dry" "$(ratio "$dry" "$diff")" "$diff"
printf '  the rest, its commit, %.3f s: %sx cp --reflink=never of the package (%.3f s)\n' \
  "$commit" "$(ratio "$commit" "$floor")" "$floor"
printf 'packing on the writer %.3f s: %sx rbdpack'"'"'s own packing (%.3f s)\n' \
  "$writer_pack" "$(ratio "$writer_pack" "$rebuild")" "$rebuild"
