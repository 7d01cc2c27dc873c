// The editable rule settings laid over the vault's: whatever they say, the result checks at
// least as much as the vault's rules alone.
#include <gtest/gtest.h>

#include <string>

#include "desktop/broker/rules/rule_set.h"
#include "desktop/broker/rules/rule_settings_strictest.h"

namespace pendrel::desktop {
namespace {

std::string hit_by(const RuleSettings& settings, std::string_view command) {
  auto rules = RuleSet::build(settings);
  if (!rules) return "build failed: " + rules.error().detail;
  auto hit = rules->find_match(command);
  return hit ? hit->rule : "allow";
}

TEST(StrictestRuleSettings, TheEditableSettingsOnlyAdd) {
  RuleSettings vault;
  vault.user_rules = {{"drop-db", R"(dropdb\b)", true}, {"deploy", R"(deploy\b)", false}};
  vault.disabled_builtins = {"git-force-push"};
  vault.on_match = OnMatch::block;
  vault.approval_timeout = std::chrono::seconds(60);

  RuleSettings editable;
  editable.disabled_builtins = {"rm-root", "mkfs"};  // cannot switch a built-in off
  editable.on_match = OnMatch::ask;                  // cannot stop blocking outright
  editable.approval_timeout = std::chrono::seconds(5);
  editable.user_rules = {
      {"drop-db", "nothing-matches-this", true},  // another rule under a vault rule's name
      {"deploy", R"(deploy\b)", true},            // the vault's own rule, switched on
      {"no-curl", R"(curl\b)", true},             // a new one
      {"rm-root", "ls", true},                    // a built-in's name
      {"broken", "rm (", true},                   // does not compile: left out, not fatal
      {"BAD NAME", "ls", true},
      {"off-one", R"(wget\b)", false},  // disabled: adds nothing
  };
  RuleSettings result = strictest_of(vault, editable);

  EXPECT_EQ(result.on_match, OnMatch::block);
  EXPECT_EQ(result.approval_timeout, std::chrono::seconds(5));
  EXPECT_EQ(result.disabled_builtins, vault.disabled_builtins);
  const struct {
    std::string_view command;
    std::string_view hit;
  } cases[] = {
      {"rm -rf /", "rm-root"},         {"mkfs.ext4 /dev/sdb1", "mkfs"},
      {"dropdb main", "drop-db"},      {"deploy now", "deploy"},
      {"curl example.org", "no-curl"}, {"ls", "allow"},
      {"wget example.org", "allow"},   {"git push --force origin main", "allow"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(hit_by(result, c.command), c.hit) << c.command;

  // And the other way round: the editable "block" wins over the vault's "ask".
  vault.on_match = OnMatch::ask;
  editable.on_match = OnMatch::block;
  EXPECT_EQ(strictest_of(vault, editable).on_match, OnMatch::block);
}

}  // namespace
}  // namespace pendrel::desktop
