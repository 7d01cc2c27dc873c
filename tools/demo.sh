#!/usr/bin/env bash
# The main job, on a machine with no SSH server: register a LOCAL host in a temporary data
# directory, let pendrel start the service by itself, run `pendrel ls` and `pendrel exec` in
# both output modes (JSON on a pipe, text on a pseudo-terminal), then stop the service.
# It runs in personal mode (the service starts a broker of its own, as the person), and then,
# where root may make a mount namespace, once more with the broker installed: root starts
# `pendrel-desktop broker`, which changes to the account pendrel. The account and /run exist
# only in that namespace, so nothing outside it ever sees the account (while it exists,
# nothing falls back to personal mode), and they go with it.
# Usage: tools/demo.sh [build-directory]   (default: build)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
pendrel=$build/pendrel
desktop=$build/pendrel-desktop
installed=${PENDREL_DEMO_INSTALLED:-}

scratch=$(mktemp -d)
export PENDREL_DATA_DIR=$scratch/pendrel PENDREL_LANG=en
broker_pid=
finish() {
  "$desktop" stop >/dev/null 2>&1 || true
  if [ -n "$broker_pid" ]; then
    kill "$broker_pid" 2>/dev/null || true
    wait "$broker_pid" 2>/dev/null || true
  fi
  rm -rf "$scratch"
}
trap finish EXIT

# Text mode needs a terminal on standard output: script(1) provides one.
# Its standard input must be open (CI may close it); /dev/null does.
on_terminal() { script -qec "$(printf '%q ' "$@")" /dev/null </dev/null; }
if [ -t 1 ]; then bold=$'\033[1m' plain=$'\033[0m'; else bold='' plain=''; fi
step() { printf '\n%s$ %s%s\n' "$bold" "$*" "$plain"; }

if [ -n "$installed" ]; then
  # In the namespace: the account pendrel in copies of the password files, a /run of its own,
  # and the broker's state in the scratch directory, which the account must be able to enter.
  id=$(for n in $(seq 999 -1 900); do getent passwd "$n" >/dev/null || getent group "$n" \
    >/dev/null || { echo "$n"; break; }; done)
  cp /etc/passwd "$scratch/passwd" && cp /etc/group "$scratch/group"
  echo "pendrel:x:$id:$id:pendrel broker:/nonexistent:/usr/sbin/nologin" >>"$scratch/passwd"
  echo "pendrel:x:$id:" >>"$scratch/group"
  mount --bind "$scratch/passwd" /etc/passwd
  mount --bind "$scratch/group" /etc/group
  mount -t tmpfs -o mode=0755 pendrel-demo /run
  chmod 0711 "$scratch"
  step pendrel-desktop broker --state-dir "$scratch/state" "   # as root; it becomes pendrel"
  "$desktop" broker --state-dir "$scratch/state" &
  broker_pid=$!
  for _ in $(seq 100); do [ -S /run/pendrel/broker.sock ] && break; sleep 0.1; done
fi

step pendrel-desktop host add this-machine --protocol LOCAL --tag demo --cli on
"$desktop" host add this-machine --protocol LOCAL --tag demo --cli on

step "pendrel ls | cat                              # JSON: the service is started by pendrel"
"$pendrel" ls | cat
step "pendrel ls                                    # text, on a terminal"
on_terminal "$pendrel" ls
step 'pendrel exec this-machine "uname -a" | cat'
"$pendrel" exec this-machine "uname -a" | cat
step 'pendrel exec this-machine "uname -a"'
on_terminal "$pendrel" exec this-machine "uname -a"

step pendrel-desktop status
"$desktop" status
step pendrel-desktop log
"$desktop" log
step pendrel-desktop stop
"$desktop" stop

if [ -z "$installed" ] && [ "$(id -u)" = 0 ]; then
  if unshare -m --propagation private true 2>/dev/null; then
    printf '\n%s== once more with the broker installed, in a mount namespace of its own%s\n' \
      "$bold" "$plain"
    PENDREL_DEMO_INSTALLED=1 unshare -m --propagation private "$0" "$build"
  else
    echo "(the installed broker is not shown: no mount namespace may be made here)"
  fi
fi
