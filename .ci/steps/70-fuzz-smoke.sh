#!/usr/bin/env bash
# Half a minute of coverage-guided fuzzing of the loader and entry writer under
# AddressSanitizer + UBSan, from the committed seeds and regression inputs.
# Any crash, hang, leak, sanitizer report or broken invariant fails CI.
set -euo pipefail
cd "$(dirname "$0")/../.."

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j 2
rm -rf build/fuzz-work
bash fuzz/run.sh "${KESTRUN_FUZZ_SECONDS:-30}"
