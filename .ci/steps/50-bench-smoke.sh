#!/usr/bin/env bash
# The benchmark on tiny trees, once: checks that the script still runs and that
# kestrun's output matches the packed tree. Its figures mean nothing here.
set -euo pipefail
cd "$(dirname "$0")/../.."
bench/run.sh --smoke --build build/release
