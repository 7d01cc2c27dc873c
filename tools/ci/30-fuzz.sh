#!/usr/bin/env bash
# Every fuzz target for a short fixed time; any finding fails the step.
set -euo pipefail
cd "$(dirname "$0")/../.."
tools/fuzz.sh all 20
