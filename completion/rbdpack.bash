# bash completion for rbdpack: options anywhere before "--", then the
# directory to pack and the package to write (*.rbd in any case); after
# --exclude, paths under that directory once it has been given.
_rbdpack() {
  local cur word i dir="" exclude=0
  local -a operands=()
  cur=${COMP_WORDS[COMP_CWORD]}

  # bash splits "--exclude=PATTERN" at the "=" into three words.
  if [[ $cur == = && ${COMP_WORDS[COMP_CWORD - 1]} == --exclude ]]; then
    cur="" exclude=1
  fi
  local options_open=1
  for ((i = 1; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    if ((options_open)) && [[ $word == -- ]]; then
      options_open=0
    elif ((options_open)) && [[ $word == --exclude ]]; then
      if [[ ${COMP_WORDS[i + 1]-} == = ]]; then
        ((i++))
      fi
      if ((i + 1 == COMP_CWORD)); then
        exclude=1
      fi
      ((i++))
    elif ! ((options_open)) || [[ $word != -?* ]]; then
      operands+=("$word")
    fi
  done

  if ((exclude)); then
    # The shell gives rbdpack the directory with a leading ~ expanded.
    dir=${operands[0]-}
    dir=${dir/#\~/$HOME}
    [[ -n $dir && -d $dir ]] || return 0
    # Paths as the pattern takes them, relative to the directory packed; a
    # directory gets its slash here, since the shell would look for it in the
    # working directory.
    mapfile -t COMPREPLY < <(cd -- "$dir" && compgen -f -- "$cur" | while IFS= read -r word; do
      [[ -d $word ]] && word+=/
      printf '%s\n' "$word"
    done)
    compopt -o filenames 2>/dev/null
    if [[ ${COMPREPLY[*]} == */* ]]; then
      compopt -o nospace 2>/dev/null
    fi
    return 0
  fi

  if ((options_open)) && [[ $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W '--exclude --exclude= -h --help --' -- "$cur")
    if [[ ${COMPREPLY[0]-} == --exclude= ]]; then
      compopt -o nospace 2>/dev/null
    fi
    return 0
  fi

  compopt -o filenames 2>/dev/null
  case ${#operands[@]} in
  0) mapfile -t COMPREPLY < <(compgen -d -- "$cur") ;;
  1) mapfile -t COMPREPLY < <(compgen -f -X '!*.[Rr][Bb][Dd]' -- "$cur"; compgen -d -- "$cur") ;;
  esac
}
complete -F _rbdpack rbdpack
