#!/usr/bin/env bash
# The Python module's benchmark on tiny trees, once: checks that the script
# still runs against the release build. Its figures mean nothing here.
set -euo pipefail
cd "$(dirname "$0")/../.."
/usr/bin/python3 bench/python_bench.py --smoke --build build/release
