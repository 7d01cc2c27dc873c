// The rules commands on the stored settings: list, add, remove, enable, disable.
#pragma once

#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "desktop/broker/rules/rule_error.h"
#include "desktop/broker/rules/rule_types.h"

namespace pendrel::desktop {

enum class RuleKind { builtin, user };
enum class RuleState { enabled, disabled };

struct RuleListing {
  std::string name;
  RuleKind kind = RuleKind::builtin;
  RuleState state = RuleState::enabled;
  std::string pattern;
  std::string description_zh;  // empty for user rules
  std::string description_en;
};

// Every rule in the order they are tried: the built-ins, then the user rules.
[[nodiscard]] std::vector<RuleListing> list_rules(const RuleSettings& settings);

// Each edit leaves `settings` unchanged when it fails.

// Appends an enabled user rule. Fails with bad_name, name_taken (a built-in's or another user
// rule's name) or bad_pattern (with RE2's reason).
[[nodiscard]] std::expected<void, RuleError> add_user_rule(RuleSettings& settings,
                                                           std::string_view name,
                                                           std::string_view pattern);

// Fails with builtin_not_removable for a built-in, unknown_rule for any other unknown name.
[[nodiscard]] std::expected<void, RuleError> remove_user_rule(RuleSettings& settings,
                                                              std::string_view name);

// Enables or disables a built-in or user rule; fails with unknown_rule. Setting the state a
// rule already has succeeds.
[[nodiscard]] std::expected<void, RuleError> set_rule_state(RuleSettings& settings,
                                                            std::string_view name, RuleState state);

}  // namespace pendrel::desktop
