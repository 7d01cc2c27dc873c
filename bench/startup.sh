#!/usr/bin/env bash
# Start-up cost of the built binary: N runs of a command that needs no desktop application.
# Usage: bench/startup.sh [binary] [runs]
set -euo pipefail
binary=${1:-build/pendrel}
runs=${2:-1000}
start=$(date +%s%N)
for ((i = 0; i < runs; i++)); do "$binary" version >/dev/null; done
end=$(date +%s%N)
echo "pendrel version: $(( (end - start) / runs / 1000 )) µs per run over $runs runs"
