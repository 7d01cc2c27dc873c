#!/usr/bin/env bash
# Builds the libFuzzer targets (tests/fuzz) in build-fuzz and runs them for as long as asked:
#   tools/fuzz.sh <target|all> [seconds per target, default 60]
#   tools/fuzz.sh list
# New inputs collect in build-fuzz/fuzz-corpus/<target>, findings in
# build-fuzz/fuzz-findings/<target>, the whole output in build-fuzz/fuzz-logs/<target>.log.
# Exits non-zero when any target finds a crash, a leak, a hang or a broken property.
set -euo pipefail
cd "$(dirname "$0")/.."
selected=${1:-all}
seconds=${2:-60}
build_dir=${PENDREL_FUZZ_BUILD:-build-fuzz}
json_suite=tests/data/JSONTestSuite/test_parsing

tools/install-deps.sh
# Debug without NDEBUG keeps simdjson's assertions; -O1 keeps the targets fast.
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" \
  -DPENDREL_TESTS=ON -DPENDREL_FUZZ=ON >/dev/null
manifest=$build_dir/tests/fuzz/targets.txt
if [ "$selected" = list ]; then
  cut -d' ' -f1 "$manifest"
  exit 0
fi
if [ "$selected" = all ]; then
  cmake --build "$build_dir" --target fuzzers
else
  grep -q "^$selected " "$manifest" || { echo "fuzz.sh: no target $selected (tools/fuzz.sh list)" >&2; exit 1; }
  cmake --build "$build_dir" --target "${selected}_fuzzer"
fi

failed=()
while read -r name kind; do
  [ "$selected" = all ] || [ "$selected" = "$name" ] || continue
  corpus=$build_dir/fuzz-corpus/$name
  findings=$build_dir/fuzz-findings/$name
  log=$build_dir/fuzz-logs/$name.log
  mkdir -p "$corpus" "$findings" "$(dirname "$log")"
  args=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
    -artifact_prefix="$findings/")
  seeds=(tests/fuzz/corpus/"$name")
  if [ "$kind" = JSON ]; then
    # The suite's largest texts run to 250 kB; 64 kB still nests far past the parser's limit.
    args+=(-dict=tests/fuzz/json.dict -max_len=65536)
    [ -d "$json_suite" ] && seeds+=("$json_suite")
  fi
  echo "== fuzz $name for ${seconds}s"
  if "$build_dir/tests/fuzz/${name}_fuzzer" "${args[@]}" "$corpus" "${seeds[@]}" >"$log" 2>&1; then
    grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)|^stat::number_of_executed_units' "$log" || true
  else
    failed+=("$name")
    tail -n 60 "$log"
    echo "fuzz.sh: $name found a fault; the input is in $findings" >&2
  fi
done <"$manifest"
if ((${#failed[@]})); then
  echo "fuzz.sh: findings in: ${failed[*]}" >&2
  exit 1
fi
