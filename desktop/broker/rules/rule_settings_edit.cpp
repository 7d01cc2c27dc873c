#include "desktop/broker/rules/rule_settings_edit.h"

#include <algorithm>

#include "desktop/broker/rules/builtin_rules.h"
#include "desktop/broker/rules/rule_validation.h"

namespace pendrel::desktop {
namespace {

auto find_user_rule(RuleSettings& settings, std::string_view name) {
  return std::ranges::find(settings.user_rules, name, &UserRule::name);
}

RuleError unknown(std::string_view name) {
  return RuleError{RuleFault::unknown_rule, std::string(name), "no rule of that name"};
}

}  // namespace

std::vector<RuleListing> list_rules(const RuleSettings& settings) {
  std::vector<RuleListing> listing;
  for (const BuiltinRule& rule : builtin_rules()) {
    bool disabled = std::ranges::find(settings.disabled_builtins, rule.name) !=
                    settings.disabled_builtins.end();
    listing.push_back({std::string(rule.name), RuleKind::builtin,
                       disabled ? RuleState::disabled : RuleState::enabled,
                       std::string(rule.pattern), std::string(rule.description_zh),
                       std::string(rule.description_en)});
  }
  for (const UserRule& rule : settings.user_rules) {
    listing.push_back({rule.name, RuleKind::user,
                       rule.enabled ? RuleState::enabled : RuleState::disabled, rule.pattern, "",
                       ""});
  }
  return listing;
}

std::expected<void, RuleError> add_user_rule(RuleSettings& settings, std::string_view name,
                                             std::string_view pattern) {
  if (auto valid = check_rule_name(name); !valid) return valid;
  if (find_builtin_rule(name) != nullptr ||
      find_user_rule(settings, name) != settings.user_rules.end()) {
    return std::unexpected(
        RuleError{RuleFault::name_taken, std::string(name), "the name is already used"});
  }
  if (auto compiled = compile_rule_pattern(name, pattern); !compiled) {
    return std::unexpected(compiled.error());
  }
  settings.user_rules.push_back({std::string(name), std::string(pattern), true});
  return {};
}

std::expected<void, RuleError> remove_user_rule(RuleSettings& settings, std::string_view name) {
  if (find_builtin_rule(name) != nullptr) {
    return std::unexpected(RuleError{RuleFault::builtin_not_removable, std::string(name),
                                     "a built-in rule can be disabled, not removed"});
  }
  auto found = find_user_rule(settings, name);
  if (found == settings.user_rules.end()) return std::unexpected(unknown(name));
  settings.user_rules.erase(found);
  return {};
}

std::expected<void, RuleError> set_rule_state(RuleSettings& settings, std::string_view name,
                                              RuleState state) {
  if (const BuiltinRule* builtin = find_builtin_rule(name)) {
    auto& disabled = settings.disabled_builtins;
    std::erase(disabled, builtin->name);
    if (state == RuleState::disabled) disabled.emplace_back(builtin->name);
    return {};
  }
  auto found = find_user_rule(settings, name);
  if (found == settings.user_rules.end()) return std::unexpected(unknown(name));
  found->enabled = state == RuleState::enabled;
  return {};
}

}  // namespace pendrel::desktop
