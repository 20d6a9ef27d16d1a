#!/usr/bin/env bash
# rbdpack's bash completion: the directory, then packages (*.rbd in any case),
# and after --exclude, in both of its forms, paths under the directory given;
# with --update, --add, --delete and --rename, their operands, the paths of a
# package's entries among them, as the built kestrun lists them.
# Arguments: the source directory, the built kestrun, the built rbdpack.
set -euo pipefail
# shellcheck source=/dev/null
source "$1/completion/rbdpack.bash"
PATH="$(dirname "$2"):$PATH"
rbdpack=$3
# Outside a completion in progress compopt fails; what it sets is not checked.
# shellcheck disable=SC2317
compopt() { :; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir -p game/build game/data other
touch "game/data/a file" game/x.o Pkg.RBD n.rbd notes.txt
"$rbdpack" --exclude x.o game other/game.rbd >/dev/null

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
expect '--delete|--dereference|--delete-missing|' rbdpack --de
# After "--", a word that looks like an option is the directory.
expect 'Pkg.RBD|n.rbd|game|other|' rbdpack -- --exclude ''
# The edits: a package first; then the directory of --update (whose paths
# --exclude takes), the file and the entry of --add, the entries of --delete
# and --rename.
expect 'Pkg.RBD|n.rbd|game|other|' rbdpack --update ''
expect 'game|other|' rbdpack --update -n other/game.rbd ''
expect 'x.o|data/|build/|' rbdpack --update other/game.rbd game --exclude ''
expect 'notes.txt|' rbdpack --add other/game.rbd no
expect 'data/a file|' rbdpack --add other/game.rbd notes.txt d
expect 'data/a file|' rbdpack --delete other/game.rbd x.o ''
expect 'data/a file|' rbdpack other/game.rbd --rename ''
expect '' rbdpack --rename other/game.rbd 'data/a file' 'data/a file' ''
exit $failed
