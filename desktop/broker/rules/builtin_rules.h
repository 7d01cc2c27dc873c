// The dangerous-command rules every service carries: stable names, RE2 patterns, descriptions.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace pendrel::desktop {

struct BuiltinRule {
  std::string_view name;     // stable: settings and audit records refer to it
  std::string_view pattern;  // RE2, matched at a command start once its prefixes are removed
  std::string_view description_zh;
  std::string_view description_en;
  // What the pattern can only match, so that most command starts are passed over without
  // running it (RE2 costs far more per call than the rest of a start):
  // - the program names it starts with, space-separated, a trailing * for a prefix,
  //   `name:N` where that program's shortest match differs, and `()` for any name followed by
  //   ( as a function definition is; empty for any program;
  // - texts that must all occur in what it sees, space-separated;
  // - the length of its shortest match, when no match can contain ; & | (0 otherwise).
  std::string_view programs;
  std::string_view needs;
  std::size_t shortest = 0;
};

// The built-in rules in the order they are tried; names are unique.
[[nodiscard]] std::span<const BuiltinRule> builtin_rules();

// The built-in rule of that name, or nullptr.
[[nodiscard]] const BuiltinRule* find_builtin_rule(std::string_view name);

}  // namespace pendrel::desktop
