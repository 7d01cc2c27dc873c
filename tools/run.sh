#!/usr/bin/env bash
# Sets up, builds and runs pendrel; with no arguments it prints the help.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target pendrel
if (($#)); then exec build/pendrel "$@"; else exec build/pendrel help; fi
