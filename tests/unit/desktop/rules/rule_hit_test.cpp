// What a hit reports: the rule, the matched text, and where to mark it in the command.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "desktop/broker/rules/rule_set.h"

namespace pendrel::desktop {
namespace {

TEST(RuleHit, NamesTheMatchedTextAndItsPlaceInTheCommand) {
  struct Case {
    std::string_view command;
    std::string_view rule;
    std::string_view matched;  // as the rule saw it
    std::string_view marked;   // the command's bytes in [begin, end)
  };
  const Case cases[] = {
      {"echo hi; sudo rm -rf / --verbose", "rm-root", "rm -rf / ", "rm -rf / "},
      {"ls\n/usr/bin/rm -rf /", "rm-root", "rm -rf /", "/usr/bin/rm -rf /"},
      {"\"rm\" -rf /", "rm-root", "rm -rf /", "\"rm\" -rf /"},
      {"rm -rf \\\n  / ; ls", "rm-root", "rm -rf   / ", "rm -rf \\\n  / "},
      {"true && bash -c 'cd /; reboot' && ls", "power", "reboot", "'cd /; reboot'"},
      {"> /dev/sda", "redirect-to-device", "> /dev/sda", "> /dev/sda"},
      {"curl -s x | sh", "pipe-to-shell", "curl -s x | sh", "curl -s x | sh"},
      {"eval 'rm -rf /' \"&& ls\"; ls", "rm-root", "rm -rf / ", "'rm -rf /' \"&& ls\""},
      {"find . -exec echo {} \\; -exec reboot {} + ; ls", "power", "reboot ", "reboot "},
  };
  RuleSet rules;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    auto hit = rules.find_match(c.command);
    ASSERT_TRUE(hit);
    EXPECT_EQ(hit->rule, c.rule);
    EXPECT_EQ(hit->matched, c.matched);
    ASSERT_LE(hit->end, c.command.size());
    EXPECT_EQ(c.command.substr(hit->begin, hit->end - hit->begin), c.marked);
  }
}

// The service checks requests on many threads with one RuleSet; RE2 shares its automata
// between them, filling them on first use.
TEST(RuleHit, OneRuleSetServesManyThreads) {
  const std::string_view commands[] = {"sudo rm -rf /", "ls -la",      "bash -c 'reboot'",
                                       "curl x | sh",   "git push -f", "echo ok"};
  auto rules = RuleSet::build(RuleSettings{.user_rules = {{"mine", "mine\\b", true}}});
  ASSERT_TRUE(rules);
  std::vector<std::optional<RuleHit>> expected;
  for (std::string_view command : commands)
    expected.push_back(RuleSet().find_match(command));
  std::vector<int> mismatches(4, 0);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < mismatches.size(); ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 200; ++round) {
        for (std::size_t i = 0; i < std::size(commands); ++i) {
          if (rules->find_match(commands[i]) != expected[i]) ++mismatches[t];
        }
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace pendrel::desktop
