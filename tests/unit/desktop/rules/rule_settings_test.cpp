// User rules: the rules commands, what a built RuleSet then blocks, and the settings as JSON.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "desktop/broker/rules/rule_set.h"
#include "desktop/broker/rules/rule_settings_edit.h"
#include "desktop/broker/rules/rule_settings_json.h"

namespace pendrel::desktop {
namespace {

std::optional<RuleFault> fault_of(const std::expected<void, RuleError>& result) {
  if (result) return std::nullopt;
  return result.error().fault;
}

std::string rule_hit_by(const RuleSettings& settings, std::string_view command) {
  auto rules = RuleSet::build(settings);
  if (!rules) return "build failed: " + rules.error().detail;
  auto hit = rules->find_match(command);
  return hit ? hit->rule : "allow";
}

TEST(RuleSettingsEdit, CommandsChangeWhatIsBlocked) {
  enum class Op { add, remove, enable, disable };
  struct Step {
    Op op;
    std::string_view name;
    std::string_view pattern;
    std::optional<RuleFault> fault;
    std::string_view command;  // checked after the step
    std::string_view hit;
  };
  const Step steps[] = {
      {Op::add,
       "docker-prune",
       R"(docker\s+system\s+prune)",
       {},
       "sudo docker system prune -a",
       "docker-prune"},
      {Op::add, "docker-prune", "x", RuleFault::name_taken, "", ""},
      {Op::add, "rm-root", "x", RuleFault::name_taken, "", ""},
      {Op::add, "Bad Name", "x", RuleFault::bad_name, "", ""},
      {Op::add, "", "x", RuleFault::bad_name, "", ""},
      {Op::add, "-dash", "x", RuleFault::bad_name, "", ""},
      {Op::add, "open-paren", "(", RuleFault::bad_pattern, "", ""},
      {Op::add, "empty", "", RuleFault::bad_pattern, "", ""},
      {Op::add, "bad-utf8", "\xff", RuleFault::bad_pattern, "", ""},
      // a rule also sees the command as written, so a prefix can be a rule of its own
      {Op::add, "no-su", R"(sudo\s+su\b)", {}, "echo; sudo su -", "no-su"},
      {Op::disable, "power", "", {}, "sudo reboot", "allow"},
      {Op::disable, "power", "", {}, "reboot", "allow"},
      {Op::remove, "power", "", RuleFault::builtin_not_removable, "reboot", "allow"},
      {Op::enable, "power", "", {}, "reboot", "power"},
      {Op::disable, "docker-prune", "", {}, "docker system prune", "allow"},
      {Op::enable, "docker-prune", "", {}, "docker system prune", "docker-prune"},
      {Op::remove, "docker-prune", "", {}, "docker system prune", "allow"},
      {Op::remove, "docker-prune", "", RuleFault::unknown_rule, "", ""},
      {Op::enable, "no-such-rule", "", RuleFault::unknown_rule, "", ""},
  };
  RuleSettings settings;
  for (const Step& step : steps) {
    SCOPED_TRACE(std::string(step.name) + " " + std::string(step.pattern));
    RuleSettings before = settings;
    std::expected<void, RuleError> result;
    switch (step.op) {
      case Op::add:
        result = add_user_rule(settings, step.name, step.pattern);
        break;
      case Op::remove:
        result = remove_user_rule(settings, step.name);
        break;
      case Op::enable:
        result = set_rule_state(settings, step.name, RuleState::enabled);
        break;
      case Op::disable:
        result = set_rule_state(settings, step.name, RuleState::disabled);
        break;
    }
    EXPECT_EQ(fault_of(result), step.fault);
    if (step.fault) {
      EXPECT_EQ(settings, before);
    }
    if (!step.command.empty()) {
      EXPECT_EQ(rule_hit_by(settings, step.command), step.hit);
    }
  }
  EXPECT_EQ(settings.disabled_builtins.size(), 0u);
}

TEST(RuleSettingsEdit, RefusedPatternCarriesRe2sReason) {
  RuleSettings settings;
  auto result = add_user_rule(settings, "broken", "a(b");
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().rule, "broken");
  EXPECT_NE(result.error().detail.find("missing )"), std::string::npos) << result.error().detail;
}

TEST(RuleSettingsEdit, ListShowsBuiltinsThenUserRulesWithTheirState) {
  RuleSettings settings;
  ASSERT_TRUE(add_user_rule(settings, "mine", "mine"));
  ASSERT_TRUE(set_rule_state(settings, "mkfs", RuleState::disabled));
  auto listing = list_rules(settings);
  ASSERT_FALSE(listing.empty());
  EXPECT_EQ(listing.front().name, "rm-root");
  EXPECT_FALSE(listing.front().description_zh.empty());
  EXPECT_EQ(listing.back().name, "mine");
  EXPECT_EQ(listing.back().kind, RuleKind::user);
  auto mkfs = std::ranges::find(listing, "mkfs", &RuleListing::name);
  ASSERT_NE(mkfs, listing.end());
  EXPECT_EQ(mkfs->state, RuleState::disabled);
}

// Settings read back from storage are checked as the commands check them.
TEST(RuleSetBuild, RefusesStoredSettingsTheCommandsWouldRefuse) {
  struct Case {
    RuleSettings settings;
    RuleFault fault;
  };
  const Case cases[] = {
      {{.user_rules = {{"x", "(", false}}}, RuleFault::bad_pattern},
      {{.user_rules = {{"power", "x", true}}}, RuleFault::name_taken},
      {{.user_rules = {{"a", "x", true}, {"a", "y", true}}}, RuleFault::name_taken},
      {{.user_rules = {{"A", "x", true}}}, RuleFault::bad_name},
      {{.disabled_builtins = {"no-such-rule"}}, RuleFault::unknown_rule},
  };
  for (const Case& c : cases) {
    auto built = RuleSet::build(c.settings);
    ASSERT_FALSE(built) << encode_rule_settings(c.settings);
    EXPECT_EQ(built.error().fault, c.fault) << encode_rule_settings(c.settings);
  }
}

TEST(RuleSettingsJson, RoundTripsAndRefusesWhatItDoesNotKnow) {
  RuleSettings settings{.user_rules = {{"a\"b", R"(x\s+"y")", false}, {"z", "z", true}},
                        .disabled_builtins = {"power", "mkfs"},
                        .on_match = OnMatch::block,
                        .approval_timeout = std::chrono::seconds(2)};
  auto decoded = decode_rule_settings(encode_rule_settings(settings));
  ASSERT_TRUE(decoded) << decoded.error().detail;
  EXPECT_EQ(*decoded, settings);
  EXPECT_EQ(decode_rule_settings("{}"), RuleSettings{});

  const std::string_view refused[] = {
      "",
      "[]",
      R"({"userRules":{}})",
      R"({"userRules":[{"name":"a"}]})",
      R"({"userRules":[{"name":"a","pattern":"b","enabled":1}]})",
      R"({"userRules":[{"name":"a","pattern":"b","colour":"red"}]})",
      R"({"userRules":[{"name":"a","name":"b","pattern":"c"}]})",
      R"({"disabledBuiltins":[1]})",
      R"({"onMatch":"maybe"})",
      R"({"approvalTimeoutSeconds":0})",
      R"({"approvalTimeoutSeconds":601})",
      R"({"approvalTimeoutSeconds":1.5})",
      R"({"onMatch":"ask","onMatch":"ask"})",
      R"({"unknown":true})",
      "{\"disabledBuiltins\":[\"\xff\"]}",
  };
  for (std::string_view json : refused) {
    auto result = decode_rule_settings(json);
    ASSERT_FALSE(result) << json;
    EXPECT_EQ(result.error().fault, RuleFault::bad_settings) << json;
  }
}

}  // namespace
}  // namespace pendrel::desktop
