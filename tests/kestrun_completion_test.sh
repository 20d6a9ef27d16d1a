#!/usr/bin/env bash
# kestrun's bash completion: options before the package, directories after
# -C and -d (also ending a bundle), packages (*.rbd in any case; also after
# -f and --diff), and after the package its member names, which the built
# kestrun lists.
# Arguments: the source directory, the built kestrun, the built mksample.
set -euo pipefail
# shellcheck source=/dev/null
source "$1/completion/kestrun.bash"
PATH="$(dirname "$2"):$PATH"
# Outside a completion in progress compopt fails; what it sets is not checked.
# shellcheck disable=SC2317
compopt() { :; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir out
"$3" game.rbd >/dev/null
touch UP.RBD notes.txt

failed=0
# The completions for the words given, the last being the one completed, in
# byte order.
expect() {
  local expected=$1
  shift
  COMP_WORDS=("$@") COMP_CWORD=$(($# - 1)) COMPREPLY=()
  _kestrun
  local got
  got=$(if ((${#COMPREPLY[@]})); then printf '%s|' "${COMPREPLY[@]}" | tr '|' '\n' | LC_ALL=C sort | tr '\n' '|'; fi)
  if [ "$got" != "$expected" ]; then
    echo "FAILED: kestrun ${*:2}: got '$got', expected '$expected'"
    failed=1
  fi
}
expect 'UP.RBD|game.rbd|out|' kestrun ''
expect 'out|' kestrun -qC ''
expect 'out|' kestrun -d o
expect '--keep-old-files|' kestrun --ke
expect 'data/snd/a.wav|data/snd/b.wav|' kestrun game.rbd data/s
expect 'sfx/boom.wav|' kestrun -x -C out game.rbd s
# After the package no option is offered.
expect '' kestrun game.rbd --
# -f names the package among the options: packages after it, then options
# or members, and no option after the first member.
expect 'UP.RBD|game.rbd|out|' kestrun -xvf ''
expect '--file=game.rbd|' kestrun --file=g
expect 'out|' kestrun -xvf game.rbd -C ''
expect '--keep-old-files|' kestrun -xf game.rbd --ke
expect 'sfx/boom.wav|' kestrun --file game.rbd -q s
expect '' kestrun -f game.rbd sfx/boom.wav --
# --diff takes a package or a directory, then the options go on.
expect 'UP.RBD|game.rbd|out|' kestrun --diff ''
expect '--diff=UP.RBD|--diff=game.rbd|--diff=out|' kestrun --diff=
expect '--diff=|' kestrun --dif
expect '--quiet|' kestrun --diff out --qu
expect 'data/snd/a.wav|data/snd/b.wav|' kestrun --diff=out game.rbd data/s
exit $failed
