// What a hit reports: the rule, the matched text, and where to mark it in the command.
#include <gtest/gtest.h>

#include <string>

#include "desktop/rules/rule_set.h"

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

}  // namespace
}  // namespace pendrel::desktop
