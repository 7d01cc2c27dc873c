// The dangerous-command rules every service carries: stable names, RE2 patterns, descriptions.
#pragma once

#include <span>
#include <string_view>

namespace pendrel::desktop {

struct BuiltinRule {
  std::string_view name;     // stable: settings and audit records refer to it
  std::string_view pattern;  // RE2, matched at a command start once its prefixes are removed
  std::string_view description_zh;
  std::string_view description_en;
};

// The built-in rules in the order they are tried; names are unique.
[[nodiscard]] std::span<const BuiltinRule> builtin_rules();

// The built-in rule of that name, or nullptr.
[[nodiscard]] const BuiltinRule* find_builtin_rule(std::string_view name);

}  // namespace pendrel::desktop
