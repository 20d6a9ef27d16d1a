#!/usr/bin/env bash
# rbdpack's bash completion: the directory, then packages (*.rbd in any case),
# and after --exclude, in both of its forms, paths under the directory given.
# Argument: the source directory.
set -euo pipefail
# shellcheck source=/dev/null
source "$1/completion/rbdpack.bash"
# Outside a completion in progress compopt fails; what it sets is not checked.
# shellcheck disable=SC2317
compopt() { :; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir -p game/build game/data other
touch "game/data/a file" game/x.o Pkg.RBD n.rbd notes.txt

failed=0
# The completions for the words given, the last being the one completed.
expect() {
  local expected=$1
  shift
  COMP_WORDS=("$@") COMP_CWORD=$(($# - 1)) COMPREPLY=()
  _rbdpack
  local got="" word
  for word in "${COMPREPLY[@]}"; do
    got+="$word|"
  done
  if [ "$got" != "$expected" ]; then
    echo "FAILED: rbdpack ${*:2}: got '$got', expected '$expected'"
    failed=1
  fi
}
expect 'game|other|' rbdpack ''
expect 'Pkg.RBD|n.rbd|game|other|' rbdpack --exclude x game ''
expect '' rbdpack game n.rbd ''
expect 'x.o|data/|build/|' rbdpack game --exclude ''
expect 'data/a file|' rbdpack game --exclude data/
expect 'x.o|data/|build/|' rbdpack game --exclude = ''
expect '--exclude|--exclude=|' rbdpack game --ex
# After "--", a word that looks like an option is the directory.
expect 'Pkg.RBD|n.rbd|game|other|' rbdpack -- --exclude ''
exit $failed
