#include "desktop/broker/rules/rule_set.h"

#include <algorithm>
#include <utility>

#include "desktop/broker/rules/builtin_rules.h"
#include "desktop/broker/rules/compiled_rules.h"
#include "desktop/broker/rules/rule_validation.h"

namespace pendrel::desktop {
namespace {

struct RuleSource {
  std::string name;
  std::string pattern;
  // See BuiltinRule; views into the static built-in table, unused for user rules.
  std::string_view programs;
  std::string_view needs;
  std::size_t shortest = 0;
};

std::size_t parse_length(std::string_view digits) {
  std::size_t value = 0;
  for (char c : digits)
    value = value * 10 + static_cast<std::size_t>(c - '0');
  return value;
}

void file_builtin(RuleSet::Compiled& compiled, std::size_t index, const RuleSource& rule) {
  std::vector<std::size_t>& needs = compiled.needs.emplace_back();
  for (std::size_t at = 0; at < rule.needs.size();) {
    std::size_t space = std::min(rule.needs.find(' ', at), rule.needs.size());
    std::string_view needed = rule.needs.substr(at, space - at);
    at = space + 1;
    auto found = std::ranges::find(compiled.needed_texts, needed);
    needs.push_back(static_cast<std::size_t>(found - compiled.needed_texts.begin()));
    if (found == compiled.needed_texts.end()) compiled.needed_texts.push_back(needed);
  }
  if (rule.programs.empty()) {
    compiled.anywhere.push_back(index);
    return;
  }
  for (std::size_t at = 0; at < rule.programs.size();) {
    std::size_t space = std::min(rule.programs.find(' ', at), rule.programs.size());
    std::string_view program = rule.programs.substr(at, space - at);
    at = space + 1;
    RuleSet::Compiled::ProgramRule filed{index, rule.shortest};
    if (std::size_t colon = program.find(':'); colon != std::string_view::npos) {
      filed.shortest = parse_length(program.substr(colon + 1));
      program = program.substr(0, colon);
    }
    if (program == "()") {
      compiled.definitions.push_back(filed);
      continue;
    }
    bool prefix = program.ends_with('*');
    if (prefix) program.remove_suffix(1);
    compiled.by_program[static_cast<unsigned char>(program[0])].push_back({program, prefix, filed});
  }
}

std::expected<std::shared_ptr<const RuleSet::Compiled>, RuleError> compile_rules(
    const std::vector<RuleSource>& rules, std::size_t builtin_count) {
  auto compiled = std::make_shared<RuleSet::Compiled>();
  compiled->builtin_count = builtin_count;
  RE2::Set user_rules(rule_pattern_options(), RE2::ANCHOR_START);
  RE2::Set builtins(rule_pattern_options(), RE2::ANCHOR_START);
  for (std::size_t index = 0; index < rules.size(); ++index) {
    const RuleSource& rule = rules[index];
    auto pattern = compile_rule_pattern(rule.name, rule.pattern);
    if (!pattern) return std::unexpected(pattern.error());
    if (index < builtin_count) {
      file_builtin(*compiled, index, rule);
      if (std::string error; builtins.Add(rule.pattern, &error) < 0) {
        return std::unexpected(RuleError{RuleFault::bad_pattern, rule.name, error});
      }
    } else if (std::string error; user_rules.Add(rule.pattern, &error) < 0) {
      return std::unexpected(RuleError{RuleFault::bad_pattern, rule.name, error});
    }
    compiled->names.push_back(rule.name);
    compiled->patterns.push_back(std::move(*pattern));
  }
  if (builtin_count > 0) {
    if (!builtins.Compile()) {
      return std::unexpected(RuleError{RuleFault::bad_pattern, "",
                                       "the built-in rules together are too large to compile"});
    }
    compiled->builtin_rules.emplace(std::move(builtins));
  }
  if (rules.size() > builtin_count) {
    if (!user_rules.Compile()) {
      return std::unexpected(RuleError{RuleFault::bad_pattern, "",
                                       "the user rules together are too large to compile"});
    }
    compiled->user_rules.emplace(std::move(user_rules));
  }
  return compiled;
}

RuleSource builtin_source(const BuiltinRule& rule) {
  return {std::string(rule.name), std::string(rule.pattern), rule.programs, rule.needs,
          rule.shortest};
}

std::shared_ptr<const RuleSet::Compiled> compile_builtin_rules() {
  std::vector<RuleSource> rules;
  for (const BuiltinRule& rule : builtin_rules())
    rules.push_back(builtin_source(rule));
  // The built-in patterns are fixed at build time and covered by the tests.
  return *compile_rules(rules, rules.size());
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
  std::vector<RuleSource> rules;
  for (const BuiltinRule& rule : builtin_rules()) {
    if (std::ranges::find(settings.disabled_builtins, rule.name) ==
        settings.disabled_builtins.end()) {
      rules.push_back(builtin_source(rule));
    }
  }
  std::size_t builtin_count = rules.size();
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
    if (rule.enabled) rules.push_back({rule.name, rule.pattern, {}, {}, 0});
  }
  auto compiled = compile_rules(rules, builtin_count);
  if (!compiled) return std::unexpected(compiled.error());
  return RuleSet(std::move(*compiled));
}

}  // namespace pendrel::desktop
