// The inside of a RuleSet: the compiled patterns and the filters that spare most of them.
#pragma once

#include <re2/re2.h>
#include <re2/set.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "desktop/broker/rules/rule_set.h"

namespace pendrel::desktop {

// A set of built-in rules, as bits by their index among the enabled built-ins.
using RuleMask = std::uint64_t;

struct RuleSet::Compiled {
  // Every enabled rule in the order tried: built-ins [0, builtin_count), then user rules.
  std::vector<std::string> names;
  std::vector<std::unique_ptr<RE2>> patterns;  // matched anchored at the start
  std::size_t builtin_count = 0;
  // A built-in filed under a program name, with the length of its shortest match there.
  struct ProgramRule {
    std::size_t rule = 0;
    std::size_t shortest = 0;
  };
  // The built-ins to try for a program name, by the name's first byte: exact names and name
  // prefixes (views into the built-in table, which is static).
  struct FiledName {
    std::string_view name;
    bool prefix = false;
    ProgramRule filed;
  };
  std::array<std::vector<FiledName>, 256> by_program;
  std::vector<std::size_t> anywhere;     // built-ins for any program
  std::vector<ProgramRule> definitions;  // for any name followed by ( (a function definition)
  // The texts that built-ins need (distinct), and for each built-in the indexes of its texts.
  std::vector<std::string_view> needed_texts;
  std::vector<std::vector<std::size_t>> needs;
  // The enabled built-ins at once, to rule out several candidates with one run.
  std::optional<RE2::Set> builtin_rules;
  // The user rules at once, so that a command start costs one pass however many there are.
  std::optional<RE2::Set> user_rules;
};

}  // namespace pendrel::desktop
