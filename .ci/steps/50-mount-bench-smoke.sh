#!/usr/bin/env bash
# The mount benchmark on tiny trees, once: checks that the script still runs,
# mounts every peer, and that kestrun-mount shows the packed tree byte for
# byte. Its figures mean nothing here.
set -euo pipefail
cd "$(dirname "$0")/../.."
bench/mount.sh --smoke --build build/release
