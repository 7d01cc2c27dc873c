#!/usr/bin/env bash
# The answer decoder in a Debug build: there simdjson's development checks are on and assert
# on misuse (entering a container past the parser's depth limit) that optimised builds never
# notice, so the decoder and JSON test-suite tests run here as well.
set -euo pipefail
cd "$(dirname "$0")/../.."
tools/install-deps.sh
cmake -S . -B build-debug -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPENDREL_TESTS=ON -DPENDREL_WERROR=ON >/dev/null
cmake --build build-debug --target pendrel_unit_tests
ctest --test-dir build-debug --output-on-failure -j "$(nproc)" -R 'Decod|JsonTestSuite'
