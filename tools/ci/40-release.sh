#!/usr/bin/env bash
# CI: the build types a user may choose, warnings as errors: Release (as a new user builds it,
# with the tests and the default prefix, so that the package step can reuse the tree), then the
# rest of the Debug tree that the decoder step began. RelWithDebInfo, the default, is the main
# suite's own build; the suite itself runs there and under the sanitizers, so here it is only
# built, which keeps CI well inside its time.
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake -S . -B build-ci-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DPENDREL_WERROR=ON >/dev/null
cmake --build build-ci-release
cmake -S . -B build-debug -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPENDREL_TESTS=ON -DPENDREL_WERROR=ON >/dev/null
cmake --build build-debug
