#!/usr/bin/env bash
# Sets up, builds and runs every test. With PENDREL_SANITIZE=ON it builds into build-sanitize
# with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
sanitize=${PENDREL_SANITIZE:-OFF}
build_dir=build
[ "$sanitize" = ON ] && build_dir=build-sanitize
cmake -S . -B "$build_dir" -G Ninja -DPENDREL_TESTS=ON -DPENDREL_WERROR=ON -DPENDREL_SANITIZE="$sanitize" >/dev/null
cmake --build "$build_dir"
ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)"
