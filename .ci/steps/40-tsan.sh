#!/usr/bin/env bash
# Many threads reading one open package of libkestrun, under ThreadSanitizer:
# the tsan workflow builds that test and the library alone (about 15 s).
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake --workflow --preset tsan
