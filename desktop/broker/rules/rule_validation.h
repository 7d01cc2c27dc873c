// The checks a rule's name and pattern must pass, and the one way patterns are compiled.
#pragma once

#include <re2/re2.h>

#include <cstddef>
#include <expected>
#include <memory>
#include <string_view>

#include "desktop/broker/rules/rule_error.h"

namespace pendrel::desktop {

inline constexpr std::size_t max_rule_name_bytes = 64;
inline constexpr std::size_t max_rule_pattern_bytes = 2048;

// The options of every rule pattern: bytes (Latin-1), case-sensitive, errors returned, not logged.
[[nodiscard]] RE2::Options rule_pattern_options();

// A name is 1 to 64 characters of a-z 0-9 - _ . and starts with a letter or a digit.
// Fails with bad_name; says nothing about whether the name is free.
[[nodiscard]] std::expected<void, RuleError> check_rule_name(std::string_view name);

// The pattern compiled, or bad_pattern with RE2's reason (or why it was not tried).
[[nodiscard]] std::expected<std::unique_ptr<RE2>, RuleError> compile_rule_pattern(
    std::string_view rule, std::string_view pattern);

}  // namespace pendrel::desktop
