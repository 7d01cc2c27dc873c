#!/usr/bin/env bash
# CI: the build types a user may choose, warnings as errors: Release (as a new user builds it,
# tests included and run), then Debug built with its assertions. RelWithDebInfo, the default,
# is the main suite's own build.
set -euo pipefail
cd "$(dirname "$0")/../.."
cmake -S . -B build-ci-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DPENDREL_WERROR=ON >/dev/null
cmake --build build-ci-release
ctest --test-dir build-ci-release --output-on-failure -j "$(nproc)"
cmake -S . -B build-ci-debug -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPENDREL_WERROR=ON >/dev/null
cmake --build build-ci-debug
