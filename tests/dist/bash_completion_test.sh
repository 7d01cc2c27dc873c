#!/usr/bin/env bash
# Drives the bash completion of pendrel (and of pendrel-desktop when it is built) the way
# bash does on Tab: COMP_WORDS and COMP_CWORD set, the completion function called, COMPREPLY
# read. Host names come from a running service: the real one when it is built, else the fake
# application answering one listing.
set -euo pipefail
: "${PENDREL_BIN:?}" "${PENDREL_SOURCE_DIR:?}"
completion_dir=$PENDREL_SOURCE_DIR/dist/completion
work=$(mktemp -d)
service_pid=
cleanup() {
  if [ -n "$service_pid" ]; then
    kill "$service_pid" 2>/dev/null || true
    wait "$service_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
failures=0

# complete <script> <function> <word>...: the candidates, one a line, sorted; the last word
# is the one being completed. Standard error must stay empty.
complete_words() {
  local script=$1 function=$2
  shift 2
  bash -c 'source "$1"; function=$2; shift 2
    COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); COMPREPLY=()
    "$function"; printf "%s\n" "${COMPREPLY[@]}"' _ "$script" "$function" "$@" \
    2>"$work/stderr" | sed '/^$/d' | sort
  if [ -s "$work/stderr" ]; then
    echo "completion wrote to stderr: $(cat "$work/stderr")"
  fi
}

# expect <expected, one a line> <script> <function> <word>...
expect() {
  local expected actual
  expected=$(printf '%s' "$1" | sed '/^$/d' | sort)
  shift
  actual=$(complete_words "$@")
  if [ "$actual" != "$expected" ]; then
    echo "FAIL: completing '${*:3}'" >&2
    diff <(echo "$expected") <(echo "$actual") >&2 || true
    failures=$((failures + 1))
  fi
}

pendrel() { expect "$1" "$completion_dir/pendrel.bash" _pendrel "$PENDREL_BIN" "${@:2}"; }

mkdir -p "$work/data" "$work/files/sub dir"
touch "$work/files/app.tar.gz"
export PENDREL_DATA_DIR=$work/data

# Words that need no service.
pendrel $'ls\nexec\nupload\ndownload\nskill\nversion\nhelp' ""
pendrel '--version' --v
pendrel '-q' ls ""
pendrel '' ls -q ""
pendrel $'--stdin\n--terminal' exec h ""
pendrel '--stdin' exec --terminal h ""
pendrel '--stdin' exec h --terminal ""
pendrel '' exec h "uptime" ""
pendrel 'install' skill ""
pendrel $'--agent\n--dir' skill install ""
pendrel $'claude\nagents\ncodex\nworkbuddy' skill install --agent ""
pendrel "$work/files/sub dir" skill install --dir "$work/files/s"
pendrel "$work/files/app.tar.gz" upload h "$work/files/a"
pendrel '' upload h "$work/files/app.tar.gz" ""
pendrel "$work/files/app.tar.gz" download h /remote "$work/files/a"

# No service: nothing but the flag, no message, and nothing is started even though
# PENDREL_APP names an application (completing empties it).
if [ -n "${PENDREL_FAKE_APP:-}" ]; then
  export PENDREL_APP=$PENDREL_FAKE_APP FAKE_APP_RECORD=$work/started FAKE_APP_LIFETIME_MS=100
fi
pendrel '--terminal' exec ""
pendrel '' upload ""
sleep 0.5 # a wrongly started fake application would have written its record by now
if [ -e "$work/started" ]; then
  echo "FAIL: completing started the application" >&2
  failures=$((failures + 1))
fi
unset PENDREL_APP FAKE_APP_RECORD FAKE_APP_LIFETIME_MS

wait_for_socket() {
  for _ in $(seq 100); do
    [ -S "$PENDREL_DATA_DIR/run/cli.sock" ] && return 0
    sleep 0.1
  done
  echo "FAIL: the service did not open its socket" >&2
  exit 1
}

if [ -n "${PENDREL_DESKTOP_BIN:-}" ]; then
  desktop() { "$PENDREL_DESKTOP_BIN" "$@"; }
  web=$(desktop host add web-1 --address localhost --protocol LOCAL --cli on)
  db=$(desktop host add "db main" --address localhost --protocol LOCAL --cli on)
  hidden=$(desktop host add hidden --address localhost --protocol LOCAL)
  "$PENDREL_DESKTOP_BIN" serve 2>"$work/service.log" &
  service_pid=$!
  wait_for_socket
  pendrel "$(printf '%s\n' --terminal web-1 'db\ main' "$web" "$db")" exec ""
  pendrel 'web-1' exec web-
  pendrel 'web-1' download web-
  # pendrel-desktop's own completion offers every host, CLI access or not.
  expect "$(printf '%s\n' web-1 'db\ main' hidden "$web" "$db" "$hidden")" \
    "$completion_dir/pendrel-desktop.bash" _pendrel_desktop "$PENDREL_DESKTOP_BIN" host show ""
  expect "$(printf '%s\n' web-1 'db\ main' hidden "$web" "$db" "$hidden")" \
    "$completion_dir/pendrel-desktop.bash" _pendrel_desktop "$PENDREL_DESKTOP_BIN" hostkey trust ""
else
  : "${PENDREL_FAKE_APP:?either the service or the fake application is needed}"
  hosts='[{"id":"h_1","name":"web-1","host":"10.0.0.5","port":22,"username":"u","protocol":"SSH"},{"id":"h_2","name":"db main","host":"10.0.0.6","port":22,"username":"u","protocol":"SSH"},{"id":"h_3","name":"say \"hi\"","host":"h","port":22,"username":"u","protocol":"SSH"}]'
  FAKE_APP_MODE=serve FAKE_APP_LIFETIME_MS=20000 FAKE_APP_ANSWER="{\"type\":\"hosts\",\"data\":$hosts}" \
    "$PENDREL_FAKE_APP" &
  service_pid=$!
  wait_for_socket
  pendrel "$(printf '%s\n' --terminal h_1 h_2 h_3 web-1 'db\ main' "$(printf '%q' 'say "hi"')")" exec ""
fi

if ((failures)); then
  echo "$failures completion case(s) failed" >&2
  exit 1
fi
