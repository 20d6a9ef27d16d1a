# bash completion for rbdpack: options anywhere before "--", then the
# operands of the form chosen. To pack: the directory, then the package to
# write (*.rbd in any case). With --update: the package, then the directory.
# With --add: the package, a file, and an entry's path; with --delete and
# --rename: the package, then its entries' paths, as kestrun -l lists them.
# After --exclude, paths under the directory read, once it has been given.
_rbdpack_entries() {
  local package=$1 cur=$2 line name
  package=${package/#\~/$HOME}
  [[ -f $package ]] || return 0
  # "%10u  PATH": the size, two spaces, the path in the package.
  while IFS= read -r line; do
    name=${line:12}
    [[ $name == "$cur"* ]] && COMPREPLY+=("$name")
  done < <(kestrun -l -- "$package" 2>/dev/null)
  compopt -o filenames 2>/dev/null
}

_rbdpack_packages() {
  compopt -o filenames 2>/dev/null
  mapfile -t COMPREPLY < <(compgen -f -X '!*.[Rr][Bb][Dd]' -- "$1"; compgen -d -- "$1")
}

_rbdpack() {
  local cur word i dir="" exclude=0 mode=pack
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
    elif ((options_open)) && [[ $word == --@(update|add|delete|rename) ]]; then
      mode=${word#--}
    elif ! ((options_open)) || [[ $word != -?* ]]; then
      operands+=("$word")
    fi
  done

  if ((exclude)); then
    # The directory read: the first operand to pack, the second to update.
    # The shell gives rbdpack the directory with a leading ~ expanded.
    dir=${operands[0]-}
    [[ $mode == update ]] && dir=${operands[1]-}
    dir=${dir/#\~/$HOME}
    [[ -n $dir && -d $dir ]] || return 0
    # Paths as the pattern takes them, relative to the directory; a
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
    mapfile -t COMPREPLY < <(compgen -W '--update --add --delete --rename --exclude --exclude=
      -L --dereference --delete-missing -n --dry-run -h --help --' -- "$cur")
    if [[ ${COMPREPLY[0]-} == --exclude= ]]; then
      compopt -o nospace 2>/dev/null
    fi
    return 0
  fi

  COMPREPLY=()
  local count=${#operands[@]}
  case $mode:$count in
  pack:0 | update:1)
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -d -- "$cur")
    ;;
  pack:1 | update:0 | add:0 | delete:0 | rename:0) _rbdpack_packages "$cur" ;;
  add:1)
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    ;;
  add:2 | delete:* | rename:[12]) _rbdpack_entries "${operands[0]}" "$cur" ;;
  esac
}
complete -F _rbdpack rbdpack
