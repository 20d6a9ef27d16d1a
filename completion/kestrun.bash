# bash completion for kestrun: options while they may still come (only before
# the package, or before the first member after -f), directories after -C and
# -d, then packages (*.rbd files, the extension in any case; also after -f,
# and after --diff, whose value may be a directory too), and after the
# package the names of its members, which kestrun -l lists.
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

# Packages: *.rbd files and directories, each behind `prefix` ("--file=").
_kestrun_packages() {
  local prefix=$1 cur=$2
  compopt -o filenames 2>/dev/null
  mapfile -t COMPREPLY < <(compgen -f -P "$prefix" -X '!*.[rR][bB][dD]' -- "$cur"
    compgen -d -P "$prefix" -- "$cur")
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
    -f | --file | -[lqtiOxvhVk]*f | --diff)
      _kestrun_packages '' "$cur"
      return
      ;;
    -j | --jobs | -[lqtiOxvhVk]*j)
      mapfile -t COMPREPLY < <(compgen -W '1 2 4 8' -- "$cur")
      return
      ;;
  esac

  # Options are taken only before the package, and only when the first word
  # is one; the first other word is the package, the rest member patterns.
  # With -f the package is named among the options, and the first other
  # word is the first member.
  local options_open=1 package='' named=0 members=0
  for ((i = 1; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    if [[ -n $package ]] && ! ((named)); then
      break
    elif [[ $word == -- ]]; then
      options_open=0
    elif ((options_open)) && [[ $word == -* && $word != - ]]; then
      # Options that take the next word: -C, -d, -f, -j, --exclude, --diff,
      # --jobs, and a bundle ending in C, d, f or j.
      case $word in
        --file=*) package=${word#--file=} named=1 ;;
        -f | --file | -[lqtiOxvhVk]*f)
          package=${COMP_WORDS[i + 1]-} named=1
          ((i++))
          ;;
        -C | --directory | -d | --output | --exclude | --diff | -j | --jobs | -[lqtiOxvhVk]*[Cdj])
          ((i++))
          ;;
      esac
    elif ((named)); then
      members=1
      break
    else
      package=$word
    fi
  done

  if [[ $prev == --exclude ]] || { [[ -n $package ]] && ! ((named)); } ||
    ((members)) || { ((named)) && [[ $cur != -* ]]; }; then
    if [[ -n $package ]]; then
      _kestrun_members "$package" "$cur"
    fi
    return 0
  fi

  if ((options_open)) && [[ $cur == -* ]]; then
    local assigned
    for assigned in --file= --diff=; do
      if [[ $cur == "$assigned"* ]]; then
        _kestrun_packages "$assigned" "${cur#"$assigned"}"
        return
      fi
    done
    for assigned in --directory= --output=; do
      if [[ $cur == "$assigned"* ]]; then
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -d -P "$assigned" -- "${cur#"$assigned"}")
        return
      fi
    done
    mapfile -t COMPREPLY < <(compgen -W '-x --extract -l --list --json -t --test -i --info
      -O --to-stdout --diff= --sha256 -C --directory= -d --output= -f --file= -k --keep-old-files
      -j --jobs=
      --exclude= -q --quiet -v --verbose --progress --no-progress -h --help -V --version
      --' -- "$cur")
    if [[ ${COMPREPLY[0]-} == *= ]]; then
      compopt -o nospace 2>/dev/null
    fi
    return 0
  fi
  _kestrun_packages '' "$cur"
}
complete -F _kestrun kestrun
