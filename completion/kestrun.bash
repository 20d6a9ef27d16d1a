# bash completion for kestrun: options while they may still come (only before
# the package), directories after -C and -d, then packages (*.rbd files, the
# extension in any case), and after the package the names of its members,
# which kestrun -l lists.
_kestrun_members() {
  local package=$1 cur=$2 line name
  package=${package/#\~/$HOME}
  if [[ $package == \'*\' || $package == \"*\" ]]; then
    package=${package:1:-1}
  fi
  [[ -f $package ]] || return 0
  COMPREPLY=()
  # "%10u  PATH": the size, two spaces, the path under the output root.
  while IFS= read -r line; do
    name=${line:12}
    [[ $name == "$cur"* ]] && COMPREPLY+=("$name")
  done < <(kestrun -l -- "$package" 2>/dev/null)
  compopt -o filenames 2>/dev/null
}

_kestrun() {
  local cur prev word i
  cur=${COMP_WORDS[COMP_CWORD]}
  prev=${COMP_WORDS[COMP_CWORD - 1]}

  case $prev in
    -C | --directory | -d | --output | -[lqtiOxvhVk]*[Cd])
      compopt -o filenames 2>/dev/null
      mapfile -t COMPREPLY < <(compgen -d -- "$cur")
      return
      ;;
  esac

  # Options are taken only before the package, and only when the first word
  # is one; the first other word is the package, the rest member patterns.
  local options_open=1 package=
  for ((i = 1; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    if [[ -n $package ]]; then
      break
    elif [[ $word == -- ]]; then
      options_open=0
    elif ((options_open)) && [[ $word == -* && $word != - ]]; then
      # Options that take the next word: -C, -d, --exclude, and a bundle
      # ending in C or d.
      case $word in
        -C | --directory | -d | --output | --exclude | -[lqtiOxvhVk]*[Cd]) ((i++)) ;;
      esac
    else
      package=$word
    fi
  done

  if [[ -n $package || $prev == --exclude ]]; then
    if [[ -n $package ]]; then
      _kestrun_members "$package" "$cur"
    fi
    return 0
  fi

  if ((options_open)) && [[ $cur == -* ]]; then
    local assigned
    for assigned in --directory= --output=; do
      if [[ $cur == "$assigned"* ]]; then
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -d -P "$assigned" -- "${cur#"$assigned"}")
        return
      fi
    done
    mapfile -t COMPREPLY < <(compgen -W '-x --extract -l --list --json -t --test -i --info
      -O --to-stdout --sha256 -C --directory= -d --output= -k --keep-old-files --exclude=
      -q --quiet -v --verbose --progress --no-progress -h --help -V --version --' -- "$cur")
    if [[ ${COMPREPLY[0]-} == *= ]]; then
      compopt -o nospace 2>/dev/null
    fi
    return 0
  fi
  compopt -o filenames 2>/dev/null
  mapfile -t COMPREPLY < <(compgen -f -X '!*.[rR][bB][dD]' -- "$cur"; compgen -d -- "$cur")
}
complete -F _kestrun kestrun
