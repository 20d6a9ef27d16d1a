# bash completion for kestrun: options while they may still come (only before
# the package), directories after -C, then packages (*.rbd files).
_kestrun() {
  local cur prev word i
  cur=${COMP_WORDS[COMP_CWORD]}
  prev=${COMP_WORDS[COMP_CWORD - 1]}

  if [[ $prev == -C || $prev == --directory ]]; then
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -d -- "$cur")
    return
  fi

  # Options are taken only before the package, and only when the first word
  # is one; the first other word is the package, the rest member patterns.
  local options_open=1 package_seen=0
  for ((i = 1; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    if ((package_seen)); then
      break
    elif [[ $word == -- ]]; then
      options_open=0
    elif ((options_open)) && [[ $word == -* ]]; then
      [[ $word == -C || $word == --directory ]] && ((i++))
    else
      package_seen=1
    fi
  done
  ((package_seen)) && return

  if ((options_open)) && [[ $cur == -* ]]; then
    if [[ $cur == --directory=* ]]; then
      compopt -o filenames 2>/dev/null
      mapfile -t COMPREPLY < <(compgen -d -P --directory= -- "${cur#--directory=}")
      return
    fi
    mapfile -t COMPREPLY < <(compgen -W '-l --list --json -t --test -i --info -C
      --directory= -O --to-stdout -q --quiet -h --help -V --version --' -- "$cur")
    [[ ${COMPREPLY[0]-} == --directory= ]] && compopt -o nospace 2>/dev/null
    return
  fi
  compopt -o filenames 2>/dev/null
  mapfile -t COMPREPLY < <(compgen -f -X '!*.rbd' -- "$cur"; compgen -d -- "$cur")
}
complete -F _kestrun kestrun
