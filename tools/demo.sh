#!/usr/bin/env bash
# The main job, on a machine with no SSH server: register a LOCAL host in a temporary data
# directory, let pendrel start the service by itself, run `pendrel ls` and `pendrel exec` in
# both output modes (JSON on a pipe, text on a pseudo-terminal), then stop the service.
# Usage: tools/demo.sh [build-directory]   (default: build)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
pendrel=$build/pendrel
desktop=$build/pendrel-desktop

scratch=$(mktemp -d)
export PENDREL_DATA_DIR=$scratch/pendrel PENDREL_LANG=en
finish() {
  "$desktop" stop >/dev/null 2>&1 || true
  rm -rf "$scratch"
}
trap finish EXIT

# Text mode needs a terminal on standard output: script(1) provides one.
# Its standard input must be open (CI may close it); /dev/null does.
on_terminal() { script -qec "$(printf '%q ' "$@")" /dev/null </dev/null; }
if [ -t 1 ]; then bold=$'\033[1m' plain=$'\033[0m'; else bold='' plain=''; fi
step() { printf '\n%s$ %s%s\n' "$bold" "$*" "$plain"; }

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
