# bash completion for korv-cli

# The configuration file: --config FILE, --config=FILE (which bash may split at "="), else
# KORV_CONFIG, else the default.
_korv_cli_config() {
  local config=${KORV_CONFIG:-${XDG_CONFIG_HOME:-$HOME/.config}/korv-cli/config.toml} i
  for ((i = 1; i < COMP_CWORD; i++)); do
    case ${COMP_WORDS[i]} in
      --config)
        if [[ ${COMP_WORDS[i + 1]} == = ]]; then
          config=${COMP_WORDS[i + 2]}
        else
          config=${COMP_WORDS[i + 1]}
        fi ;;
      --config=*) config=${COMP_WORDS[i]#--config=} ;;
    esac
  done
  printf '%s\n' "${config/#\~/$HOME}"
}

# Names of the servers in the configuration file, one a line: [servers.NAME],
# [servers."NAME"] and [servers.'NAME'] (a quoted name may hold dots and blanks).
_korv_cli_servers() {
  local config line name
  config=$(_korv_cli_config)
  [[ -r $config ]] || return 0
  local bare='[A-Za-z0-9_-]+' double='"([^"\\]*)"' single="'([^']*)'"
  local pattern="^[[:space:]]*\[[[:space:]]*servers[[:space:]]*\.[[:space:]]*($bare|$double|$single)[[:space:]]*\][[:space:]]*(#.*)?$"
  while IFS= read -r line || [[ -n $line ]]; do
    [[ $line =~ $pattern ]] || continue
    name=${BASH_REMATCH[1]}
    [[ $name == [\"\']* ]] && name=${BASH_REMATCH[2]}${BASH_REMATCH[3]}
    [[ -n $name ]] && printf '%s\n' "$name"
  done <"$config"
}

# Whether word $1 is one of the words of list $2.
_korv_cli_in() {
  local w
  for w in $2; do [[ $w == "$1" ]] && return 0; done
  return 1
}

# Completes $cur from a list of upper-case values that are accepted in any letter case.
_korv_cli_values() {
  local values=$1
  [[ $cur == [[:lower:]]* ]] && values=${values,,}
  mapfile -t COMPREPLY < <(compgen -W "$values" -- "$cur")
}

_korv_cli() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
  local commands="list-probes export-probes import-probes diff-probes check-probes
    list-alert-templates export-alert-templates import-alert-templates diff-alert-templates
    check-alert-templates migrate restore servers"
  local global_flags="-i --insecure --no-insecure -v --version -h --help"
  local global_values="-p --korv-url -u --korv-user -f --password-file --cacert --crlfile --cert
    --key --proxy --proxy-user --connect-timeout -m --max-time --log-file -l --log-level
    --config --server"
  local global_files="-f --password-file --cacert --crlfile --cert --key --log-file --config"

  # Find the subcommand: the first word that is not a global option or its value.
  local command="" i=1
  while ((i < COMP_CWORD)); do
    local word=${COMP_WORDS[i]}
    if _korv_cli_in "$word" "$global_values"; then
      # bash splits "--option=value" into three words
      if [[ ${COMP_WORDS[i + 1]} == = ]]; then ((i += 3)); else ((i += 2)); fi
      continue
    elif [[ $word != -* ]]; then
      command=$word
      break
    fi
    ((i++))
  done

  local options="" files="" categories=""
  case $command in
    "") options="$global_flags $global_values" files=$global_files ;;
    list-probes) options="-c --probe-category -h --help" categories="-c --probe-category" ;;
    list-alert-templates)
      options="-c --alert-template-category -h --help" categories="-c --alert-template-category" ;;
    export-probes) options="-i --probe-id -o --out-file -w --overwrite --name -h --help" files="-o --out-file" ;;
    export-alert-templates) options="-i --id -o --out-file -w --overwrite --name -h --help" files="-o --out-file" ;;
    import-probes)
      options="-i --in-file --ignore-existing --strict --backup --name --json -h --help" files="-i --in-file --backup" ;;
    import-alert-templates)
      options="-i --in-file --ignore-existing --ignore-existing-probes --strict --backup --name --json -h --help"
      files="-i --in-file --backup" ;;
    diff-probes) options="-i --in-file --ignore-existing --name --json -h --help" files="-i --in-file" ;;
    diff-alert-templates)
      options="-i --in-file --ignore-existing --ignore-existing-probes --name --json -h --help" files="-i --in-file" ;;
    check-probes | check-alert-templates) options="-i --in-file --json -h --help" files="-i --in-file" ;;
    migrate)
      options="--from --to --dir --dry-run --only --ignore-existing --name --json -h --help" files="--dir" ;;
    restore) options="--to --dir -h --help" files="--dir" ;;
    servers) options="-h --help" ;;
  esac

  if [[ $prev == --server || ($command == migrate && ($prev == --from || $prev == --to)) ||
    ($command == restore && $prev == --to) ]]; then
    local name
    COMPREPLY=()
    while IFS= read -r name; do
      [[ -n $name && $name == "$cur"* ]] && COMPREPLY+=("$(printf '%q' "$name")")
    done < <(_korv_cli_servers)
    return 0
  fi
  if [[ $command == migrate && $prev == --only ]]; then
    mapfile -t COMPREPLY < <(compgen -W "probes alert-templates" -- "$cur")
    return 0
  fi
  if [[ ($command == migrate || $command == restore) && $prev == --dir ]]; then
    mapfile -t COMPREPLY < <(compgen -d -- "$cur")
    return 0
  fi
  if _korv_cli_in "$prev" "$files"; then
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    return 0
  fi
  if [[ -z $command && ($prev == -l || $prev == --log-level) ]]; then
    _korv_cli_values "FATAL ERROR WARNING INFO DEBUG VERBOSE"
    return 0
  fi
  if _korv_cli_in "$prev" "$categories"; then
    _korv_cli_values "CUSTOM SYSTEM ALL"
    return 0
  fi
  if [[ -z $command ]] && _korv_cli_in "$prev" "$global_values"; then
    return 0 # a value nobody can guess: a URL, a user, a number
  fi
  if [[ -z $command && $cur != -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$commands" -- "$cur")
  elif [[ $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
  fi
  return 0
}

complete -F _korv_cli korv-cli
