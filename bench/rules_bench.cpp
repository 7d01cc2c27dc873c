// The dangerous-command checker on 1 MiB inputs: everyday scripts and hostile shapes.
#include <benchmark/benchmark.h>

#include <string>
#include <string_view>

#include "desktop/broker/rules/rule_set.h"

namespace {

using pendrel::desktop::RuleSet;

constexpr std::size_t input_size = 1 << 20;

std::string repeat_to_size(std::string_view piece) {
  std::string text;
  text.reserve(input_size + piece.size());
  while (text.size() < input_size)
    text += piece;
  return text;
}

void check(benchmark::State& state, std::string_view piece) {
  RuleSet rules;
  std::string text = repeat_to_size(piece);
  for (auto _ : state) {
    auto hit = rules.find_match(text);
    benchmark::DoNotOptimize(hit);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
}

// An ordinary script: a few commands a line.
BENCHMARK_CAPTURE(check, script_lines,
                  "cd /srv/app && git pull --ff-only\nsudo systemctl restart app; sleep 1\n"
                  "awk '{print $1}' logs/access.log | sort | uniq -c | sort -rn | head\n");
// As many command starts as bytes allow.
BENCHMARK_CAPTURE(check, separators, "a;");
BENCHMARK_CAPTURE(check, ampersands, "&");
BENCHMARK_CAPTURE(check, parentheses, "(");
BENCHMARK_CAPTURE(check, keywords, "then ");
// Starts that each pass the filters and cost an RE2 run.
BENCHMARK_CAPTURE(check, removals, "rm -r x;");
BENCHMARK_CAPTURE(check, any_program_texts, "(){|&}/dev/>;");
// Patterns that read to the end of their window from every start.
BENCHMARK_CAPTURE(check, curl_pipes, "curl |");
BENCHMARK_CAPTURE(check, redirections, "2>");
// One command with a million bytes of arguments.
BENCHMARK_CAPTURE(check, long_removal, "rm -rf x ");
// Words that never close, so that every start reads far.
BENCHMARK_CAPTURE(check, open_quotes, "A=\"x;");
BENCHMARK_CAPTURE(check, shell_scripts, "bash -c '");
BENCHMARK_CAPTURE(check, nested_shells, "bash -c \"bash -c 'sh -c ");
BENCHMARK_CAPTURE(check, split_strings, "env -S '");
// Commands that run commands: find clauses nested as deep as allowed, or one clause after
// another; eval handing its words on; and xargs before each start.
BENCHMARK_CAPTURE(check, find_clause_chains, "find -exec ");
BENCHMARK_CAPTURE(check, find_clauses, "find . -exec x {} + ");
BENCHMARK_CAPTURE(check, eval_chains, "eval ");
BENCHMARK_CAPTURE(check, xargs_removals, "xargs -n 1 rm -f;");
// Patterns of the new built-ins that read far: a cd before every glob, open one-liners.
BENCHMARK_CAPTURE(check, cd_then_globs, "cd / && rm -f * ;");
BENCHMARK_CAPTURE(check, one_liners, "python3 -c 'x;");
BENCHMARK_CAPTURE(check, fork_bomb_texts, "f(){ f|f ;}&");
// A long chain of prefixes and of joined lines.
BENCHMARK_CAPTURE(check, prefixes, "sudo ");
BENCHMARK_CAPTURE(check, continuations, "\\\n");
BENCHMARK_CAPTURE(check, lines, "x\n");

}  // namespace
