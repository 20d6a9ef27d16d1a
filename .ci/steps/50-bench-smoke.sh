#!/usr/bin/env bash
# The benchmarks on tiny trees, once: checks that the scripts still run and
# that what they extract or copy matches the packed tree. Their figures mean
# nothing here.
set -euo pipefail
cd "$(dirname "$0")/../.."
bench/run.sh --smoke --build build/release
bench/library.sh --smoke --build build/release
bench/writer.sh --smoke --build build/release
bench/rbdpack.sh --smoke --build build/release
