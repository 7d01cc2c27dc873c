#!/usr/bin/env bash
# Sets up and builds both programs, then runs the main job (tools/demo.sh): a LOCAL host, the
# service started by pendrel, `ls` and `exec` in both output modes, in personal mode and, as
# root, once more through the installed broker (in a mount namespace the job makes and drops).
# Arguments, if any, go to pendrel instead.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target pendrel pendrel_desktop
if (($#)); then exec build/pendrel "$@"; else exec tools/demo.sh build; fi
