#include "desktop/rules/rule_set.h"

#include <algorithm>
#include <utility>

#include "desktop/rules/builtin_rules.h"
#include "desktop/rules/compiled_rules.h"
#include "desktop/rules/rule_validation.h"

namespace pendrel::desktop {
namespace {

struct NamedPattern {
  std::string name;
  std::string pattern;
};

std::expected<std::shared_ptr<const RuleSet::Compiled>, RuleError> compile_rules(
    const std::vector<NamedPattern>& rules) {
  auto compiled = std::make_shared<RuleSet::Compiled>();
  RE2::Set any(rule_pattern_options(), RE2::ANCHOR_START);
  for (const NamedPattern& rule : rules) {
    auto pattern = compile_rule_pattern(rule.name, rule.pattern);
    if (!pattern) return std::unexpected(pattern.error());
    std::string error;
    if (any.Add(rule.pattern, &error) < 0) {
      return std::unexpected(RuleError{RuleFault::bad_pattern, rule.name, error});
    }
    compiled->names.push_back(rule.name);
    compiled->patterns.push_back(std::move(*pattern));
  }
  if (!rules.empty()) {
    if (!any.Compile()) {
      return std::unexpected(
          RuleError{RuleFault::bad_pattern, "", "the rules together are too large to compile"});
    }
    compiled->any.emplace(std::move(any));
  }
  return compiled;
}

std::shared_ptr<const RuleSet::Compiled> compile_builtin_rules() {
  std::vector<NamedPattern> rules;
  for (const BuiltinRule& rule : builtin_rules()) {
    rules.push_back({std::string(rule.name), std::string(rule.pattern)});
  }
  // The built-in patterns are fixed at build time and covered by the tests.
  return *compile_rules(rules);
}

}  // namespace

RuleSet::RuleSet() {
  static const std::shared_ptr<const Compiled> builtins = compile_builtin_rules();
  compiled_ = builtins;
}

RuleSet::RuleSet(std::shared_ptr<const Compiled> compiled) : compiled_(std::move(compiled)) {}

std::expected<RuleSet, RuleError> RuleSet::build(const RuleSettings& settings) {
  for (const std::string& name : settings.disabled_builtins) {
    if (find_builtin_rule(name) == nullptr) {
      return std::unexpected(
          RuleError{RuleFault::unknown_rule, name, "no built-in rule of that name"});
    }
  }
  std::vector<NamedPattern> rules;
  for (const BuiltinRule& rule : builtin_rules()) {
    if (std::ranges::find(settings.disabled_builtins, rule.name) !=
        settings.disabled_builtins.end()) {
      continue;
    }
    rules.push_back({std::string(rule.name), std::string(rule.pattern)});
  }
  for (std::size_t i = 0; i < settings.user_rules.size(); ++i) {
    const UserRule& rule = settings.user_rules[i];
    if (auto valid = check_rule_name(rule.name); !valid) return std::unexpected(valid.error());
    bool taken = find_builtin_rule(rule.name) != nullptr ||
                 std::any_of(settings.user_rules.begin(),
                             settings.user_rules.begin() + static_cast<std::ptrdiff_t>(i),
                             [&](const UserRule& earlier) { return earlier.name == rule.name; });
    if (taken) {
      return std::unexpected(
          RuleError{RuleFault::name_taken, rule.name, "the name is already used"});
    }
    // A disabled rule must still be valid: enabling it later must not fail.
    auto pattern = compile_rule_pattern(rule.name, rule.pattern);
    if (!pattern) return std::unexpected(pattern.error());
    if (rule.enabled) rules.push_back({rule.name, rule.pattern});
  }
  auto compiled = compile_rules(rules);
  if (!compiled) return std::unexpected(compiled.error());
  return RuleSet(std::move(*compiled));
}

}  // namespace pendrel::desktop
