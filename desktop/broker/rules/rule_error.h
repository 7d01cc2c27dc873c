// Why a rule or the rules settings were refused.
#pragma once

#include <string>
#include <string_view>

namespace pendrel::desktop {

enum class RuleFault {
  bad_name,               // empty, too long, or characters outside a-z 0-9 - _ .
  name_taken,             // a built-in rule's name, or another user rule's
  unknown_rule,           // no rule of that name
  builtin_not_removable,  // built-in rules can be disabled, not removed
  bad_pattern,            // empty, too long, not UTF-8, or refused by RE2 (detail: its reason)
  bad_settings,           // the stored settings are not valid JSON of the expected shape
};

struct RuleError {
  RuleFault fault;
  std::string rule;    // the rule's name, when one is concerned
  std::string detail;  // RE2's reason, or where the settings went wrong

  friend bool operator==(const RuleError&, const RuleError&) = default;
};

// The fault as a stable lower-case word ("bad_pattern"), for logs and messages.
[[nodiscard]] std::string_view rule_fault_name(RuleFault fault);

}  // namespace pendrel::desktop
