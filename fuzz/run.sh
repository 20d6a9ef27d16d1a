#!/usr/bin/env bash
# Runs the fuzz target for SECONDS (default 60) from the committed seeds,
# keeping the growing corpus in build/fuzz-work. Exits non-zero when the run
# found anything; the input is then in build/fuzz-work/artifacts/.
# Build first: cmake --preset fuzz && cmake --build --preset fuzz
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
work="$root/build/fuzz-work"
mkdir -p "$work/corpus" "$work/artifacts"
seeds=("$root/fuzz/corpus")
[ -d "$root/fuzz/regressions" ] && seeds+=("$root/fuzz/regressions")

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:allocator_may_return_null=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
status=0
"$root/build/fuzz/fuzz/kestrun_fuzz" \
  -max_total_time="$seconds" -max_len=32768 -timeout=10 -malloc_limit_mb=256 \
  -print_final_stats=1 -dict="$root/fuzz/rbd.dict" \
  -artifact_prefix="$work/artifacts/" "$work/corpus" "${seeds[@]}" || status=$?
if [ "$status" -ne 0 ] || [ -n "$(ls -A "$work/artifacts")" ]; then
  echo "fuzz: findings in $work/artifacts" >&2
  exit 1
fi
