# bash completion for pendrel-desktop: its commands and options, and the ids and names of the
# saved hosts, read from `pendrel-desktop host list --json` (quietly nothing when that fails).

_pendrel_desktop_hosts() {
  local json
  json=$(timeout 5 "$1" host list --json 2>/dev/null </dev/null) || return 0
  [[ $json == \[* ]] || return 0
  # Inside a JSON string every quotation mark is escaped, so `"id":"` only matches a key.
  local pattern='"(id|name)":[[:space:]]*"(([^"\\]|\\.)*)"'
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
_pendrel_desktop_add_matches() {
  local cur=$1 word
  while IFS= read -r word; do
    [[ -n $word && $word == "$cur"* ]] || continue
    if [[ $word == *[^A-Za-z0-9._@%+=:,/-]* ]]; then
      printf -v word '%q' "$word"
    fi
    COMPREPLY+=("$word")
  done
}

_pendrel_desktop() {
  local program=${COMP_WORDS[0]} cur=${COMP_WORDS[COMP_CWORD]}
  local prev=${COMP_WORDS[COMP_CWORD - 1]}
  COMPREPLY=()
  if ((COMP_CWORD == 1)); then
    COMPREPLY=($(compgen -W 'host hostkey init unlock lock passwd console pin cli autostart autolock rules status stop log serve help --help -h --headless' -- "$cur"))
    return 0
  fi

  local host_options='--address --port --user --protocol --tag --cli --json --password --key
    --key-passphrase --agent --legacy --connect-timeout --max-duration --password-fd
    --cli-user --cli-password --cli-key --cli-key-passphrase --cli-agent'
  case ${COMP_WORDS[1]} in
    host)
      if ((COMP_CWORD == 2)); then
        COMPREPLY=($(compgen -W 'add set remove list show' -- "$cur"))
        return 0
      fi
      case $prev in
        --protocol) COMPREPLY=($(compgen -W 'SSH LOCAL' -- "$cur")); return 0 ;;
        --cli | --agent | --legacy | --cli-agent) COMPREPLY=($(compgen -W 'on off' -- "$cur")); return 0 ;;
        --max-duration | --cli-login) COMPREPLY=($(compgen -W 'off' -- "$cur")); return 0 ;;
        --key | --cli-key)
          compopt -o filenames 2>/dev/null
          mapfile -t COMPREPLY < <(compgen -f -- "$cur")
          return 0
          ;;
        --address | --port | --user | --tag | --name | --password-fd | --connect-timeout | --cli-user) return 0 ;;
      esac
      case ${COMP_WORDS[2]} in
        add)
          ((COMP_CWORD > 3)) && COMPREPLY=($(compgen -W "$host_options" -- "$cur"))
          ;;
        set)
          if ((COMP_CWORD == 3)); then
            _pendrel_desktop_add_matches "$cur" < <(_pendrel_desktop_hosts "$program")
          else
            COMPREPLY=($(compgen -W "$host_options --name --no-tags --cli-login" -- "$cur"))
          fi
          ;;
        remove | show)
          if ((COMP_CWORD == 3)); then
            _pendrel_desktop_add_matches "$cur" < <(_pendrel_desktop_hosts "$program")
          elif [[ ${COMP_WORDS[2]} == show ]]; then
            COMPREPLY=($(compgen -W '--json' -- "$cur"))
          fi
          ;;
        list) COMPREPLY=($(compgen -W '--json' -- "$cur")) ;;
      esac
      ;;
    hostkey)
      if ((COMP_CWORD == 2)); then
        COMPREPLY=($(compgen -W 'trust reject forget list' -- "$cur"))
      elif ((COMP_CWORD == 3)); then
        _pendrel_desktop_add_matches "$cur" < <(_pendrel_desktop_hosts "$program")
      elif [[ $prev != --fingerprint && $prev != --password-fd ]]; then
        case ${COMP_WORDS[2]} in
          trust | reject) COMPREPLY=($(compgen -W '--fingerprint --password-fd --json' -- "$cur")) ;;
          *) COMPREPLY=($(compgen -W '--password-fd --json' -- "$cur")) ;;
        esac
      fi
      ;;
    cli | autostart)
      ((COMP_CWORD == 2)) && COMPREPLY=($(compgen -W 'on off' -- "$cur"))
      ;;
    init | unlock | passwd) [[ $prev == --password-fd ]] || COMPREPLY=($(compgen -W '--password-fd' -- "$cur")) ;;
    lock) ((COMP_CWORD == 2)) && COMPREPLY=($(compgen -W '--all' -- "$cur")) ;;
    pin)
      if ((COMP_CWORD == 2)); then
        COMPREPLY=($(compgen -W 'set clear' -- "$cur"))
      elif [[ $prev != --password-fd ]]; then
        COMPREPLY=($(compgen -W '--password-fd' -- "$cur"))
      fi
      ;;
    rules)
      if ((COMP_CWORD == 2)); then
        COMPREPLY=($(compgen -W 'list add remove enable disable block' -- "$cur"))
      elif ((COMP_CWORD == 3)); then
        case ${COMP_WORDS[2]} in
          list) COMPREPLY=($(compgen -W '--json' -- "$cur")) ;;
          block) COMPREPLY=($(compgen -W 'on off' -- "$cur")) ;;
        esac
      fi
      ;;
    status) COMPREPLY=($(compgen -W '--json' -- "$cur")) ;;
    log) [[ $prev == -n ]] || COMPREPLY=($(compgen -W '-n -f' -- "$cur")) ;;
  esac
  return 0
}

complete -F _pendrel_desktop pendrel-desktop
