# bash completion for pendrel: the command words and options, the agent targets of
# `skill install`, local paths for upload and download, and the host ids and names that
# `pendrel ls` reports.

# Prints the host ids and names, one a line. PENDREL_APP is empty so that completing never
# starts the service; a service that cannot be reached gives nothing, without a message.
_pendrel_hosts() {
  local program=$1 json
  json=$(PENDREL_APP= timeout 5 "$program" ls 2>/dev/null </dev/null) || return 0
  [[ $json == \[* ]] || return 0
  # Inside a JSON string every quotation mark is escaped, so `"id":"` only matches a key.
  local pattern='"(id|name)":"(([^"\\]|\\.)*)"'
  while [[ $json =~ $pattern ]]; do
    local value=${BASH_REMATCH[2]}
    json=${json#*"${BASH_REMATCH[0]}"}
    # An escaped quotation mark is undone; a name with any other escape is left out.
    value=${value//\\\"/\"}
    [[ $value == *\\* ]] || printf '%s\n' "$value"
  done
}

# Adds the words of the list (one a line) that begin with the current word, quoted for
# the command line, to COMPREPLY.
_pendrel_add_matches() {
  local cur=$1 word
  while IFS= read -r word; do
    [[ -n $word && $word == "$cur"* ]] || continue
    if [[ $word == *[^A-Za-z0-9._@%+=:,/-]* ]]; then
      printf -v word '%q' "$word"
    fi
    COMPREPLY+=("$word")
  done
}

_pendrel() {
  local program=${COMP_WORDS[0]} cur=${COMP_WORDS[COMP_CWORD]}
  local prev=${COMP_WORDS[COMP_CWORD - 1]}
  COMPREPLY=()
  if ((COMP_CWORD == 1)); then
    if [[ $cur == -* ]]; then
      COMPREPLY=($(compgen -W '--help -h --version -v -V' -- "$cur"))
    else
      COMPREPLY=($(compgen -W 'ls exec upload download skill version help' -- "$cur"))
    fi
    return 0
  fi

  # The arguments between the command word and the word being completed.
  local command=${COMP_WORDS[1]}
  local -a before=("${COMP_WORDS[@]:2:COMP_CWORD-2}")
  case $command in
    ls)
      if ((${#before[@]} == 0)); then
        COMPREPLY=($(compgen -W '-q' -- "$cur"))
      fi
      ;;
    exec)
      # --terminal stands first or second; what remains is the host, then the command.
      local terminal=0 word
      local -a positional=()
      for word in "${before[@]}"; do
        if [[ $word == --terminal && $terminal == 0 && ${#positional[@]} -le 1 ]]; then
          terminal=1
        else
          positional+=("$word")
        fi
      done
      case ${#positional[@]} in
        0)
          ((terminal)) || COMPREPLY=($(compgen -W '--terminal' -- "$cur"))
          [[ $cur == -* ]] || _pendrel_add_matches "$cur" < <(_pendrel_hosts "$program")
          ;;
        1)
          local options='--stdin'
          ((terminal)) || options+=' --terminal'
          COMPREPLY=($(compgen -W "$options" -- "$cur"))
          ;;
      esac
      ;;
    upload | download)
      # upload <host> <local-file> <remote>, download <host> <remote-file> <local>
      local local_position=2
      [[ $command == download ]] && local_position=3
      if ((${#before[@]} == 0)); then
        _pendrel_add_matches "$cur" < <(_pendrel_hosts "$program")
      elif ((${#before[@]} + 1 == local_position)); then
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
      fi
      ;;
    skill)
      if ((${#before[@]} == 0)); then
        COMPREPLY=($(compgen -W 'install' -- "$cur"))
      elif [[ ${before[0]} == install ]]; then
        case ${#before[@]} in
          1) COMPREPLY=($(compgen -W '--agent --dir' -- "$cur")) ;;
          2)
            if [[ $prev == --agent ]]; then
              COMPREPLY=($(compgen -W 'claude agents codex workbuddy' -- "$cur"))
            elif [[ $prev == --dir ]]; then
              compopt -o filenames 2>/dev/null
              mapfile -t COMPREPLY < <(compgen -d -- "$cur")
            fi
            ;;
        esac
      fi
      ;;
  esac
  return 0
}

complete -F _pendrel pendrel
