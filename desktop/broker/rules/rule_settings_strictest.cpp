#include "desktop/broker/rules/rule_settings_strictest.h"

#include <algorithm>

#include "desktop/broker/rules/builtin_rules.h"
#include "desktop/broker/rules/rule_validation.h"

namespace pendrel::desktop {
namespace {

// Whether `rule` may be added at all: a name and a pattern that add_user_rule would take.
bool usable(const UserRule& rule) {
  return rule.enabled && find_builtin_rule(rule.name) == nullptr && check_rule_name(rule.name) &&
         compile_rule_pattern(rule.name, rule.pattern);
}

}  // namespace

RuleSettings strictest_of(const RuleSettings& base, const RuleSettings& extra) {
  RuleSettings result = base;
  for (const UserRule& rule : extra.user_rules) {
    if (!usable(rule)) continue;
    auto same_name = std::ranges::find(result.user_rules, rule.name, &UserRule::name);
    if (same_name == result.user_rules.end()) {
      result.user_rules.push_back(rule);
    } else if (same_name->pattern == rule.pattern) {
      same_name->enabled = true;
    }
  }
  if (extra.on_match == OnMatch::block) result.on_match = OnMatch::block;
  // A time-out outside the accepted bounds was refused when the settings were read.
  result.approval_timeout = std::min(base.approval_timeout, extra.approval_timeout);
  return result;
}

}  // namespace pendrel::desktop
