#!/usr/bin/env bash
# libkestrun exports its C API and nothing else: the defined dynamic symbols
# of the built library are exactly the functions that the public header
# declares with KR_API, each under the version node KESTRUN_1.
#
#   exported_symbols_test.sh LIBRARY HEADER
set -euo pipefail
library=$1
header=$2

exported=$(nm -D --defined-only "$library" | awk '{ print $3 }' | sort)
declared=$(grep -oE '^KR_API[^(]*\bkr_[a-z_]+\(' "$header" | grep -oE 'kr_[a-z_]+' |
  sed 's/$/@@KESTRUN_1/' | sort)
# The version node itself is defined as an absolute symbol of its own name.
expected=$(printf '%s\nKESTRUN_1\n' "$declared" | sort)
if [ "$exported" != "$expected" ]; then
  echo "exported symbols differ from the header's functions (< exported, > declared):"
  diff <(echo "$exported") <(echo "$expected") || true
  exit 1
fi
echo "$(echo "$declared" | wc -l) functions exported, nothing else"
