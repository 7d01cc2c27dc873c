#!/usr/bin/env bash
# The README's main job against the suite's build (the fresh clone's, which .ci/run names in
# PENDREL_SUITE_BUILD): a LOCAL host, the service started by pendrel, ls and exec in both output
# modes, the service stopped again; in personal mode, and as root once more through the
# installed broker, which it sets up and removes itself.
set -euo pipefail
cd "$(dirname "$0")/../.."
tools/demo.sh "${PENDREL_SUITE_BUILD:-build}"
