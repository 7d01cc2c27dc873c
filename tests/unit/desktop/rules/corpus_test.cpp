// The checker against the corpus in tests/data/rules and against generated worst-case inputs.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "desktop/broker/rules/builtin_rules.h"
#include "desktop/broker/rules/rule_set.h"
#include "support/source_tree.h"

namespace pendrel::desktop {
namespace {

namespace fs = std::filesystem;

fs::path corpus_dir() {
  return pendrel::testing::source_path("tests/data/rules");
}

struct CorpusCase {
  std::string file;
  int line = 0;
  std::string command;
  std::string expected;  // a rule name, or "allow"
};

std::string unescape(std::string_view escaped) {
  std::string text;
  for (std::size_t i = 0; i < escaped.size(); ++i) {
    if (escaped[i] != '\\' || i + 1 == escaped.size()) {
      text += escaped[i];
      continue;
    }
    char next = escaped[++i];
    text += next == 'n' ? '\n' : next == 't' ? '\t' : next == 'r' ? '\r' : next;
  }
  return text;
}

std::vector<CorpusCase> load_corpus(std::vector<std::string>& malformed) {
  std::vector<CorpusCase> cases;
  std::set<fs::path> files;
  for (const auto& entry : fs::directory_iterator(corpus_dir())) {
    if (entry.path().extension() == ".tsv") files.insert(entry.path());
  }
  for (const fs::path& path : files) {
    std::ifstream in(path);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
      if (line.empty() || line[0] == '#') continue;
      std::size_t tab = line.rfind('\t');
      if (tab == std::string::npos || tab == 0) {
        malformed.push_back(path.filename().string() + ":" + std::to_string(number));
        continue;
      }
      cases.push_back(
          {path.filename().string(), number, unescape(line.substr(0, tab)), line.substr(tab + 1)});
    }
  }
  return cases;
}

TEST(RulesCorpus, EveryCaseHitsItsRuleOrPasses) {
  std::vector<std::string> malformed;
  std::vector<CorpusCase> cases = load_corpus(malformed);
  EXPECT_TRUE(malformed.empty()) << "lines without a TAB: " << ::testing::PrintToString(malformed);

  RuleSet rules;
  std::map<std::string, int> per_file;
  std::set<std::string> rules_hit;
  std::string failures;
  for (const CorpusCase& c : cases) {
    ++per_file[c.file];
    auto hit = rules.find_match(c.command);
    std::string got = hit ? hit->rule : "allow";
    if (hit) rules_hit.insert(hit->rule);
    if (got != c.expected) {
      failures += c.file + ":" + std::to_string(c.line) + ": " +
                  ::testing::PrintToString(c.command) + " expected " + c.expected + ", got " + got +
                  (hit ? " (matched " + ::testing::PrintToString(hit->matched) + ")" : "") + "\n";
    }
  }
  EXPECT_TRUE(failures.empty()) << failures;
  EXPECT_GE(per_file["dangerous.tsv"], 150);
  EXPECT_GE(per_file["everyday.tsv"], 150);
  EXPECT_GE(per_file["documented_false_positives.tsv"], 1);
  for (const BuiltinRule& rule : builtin_rules()) {
    EXPECT_TRUE(rules_hit.contains(std::string(rule.name))) << "no case hits " << rule.name;
  }
}

// The built-ins are filed by program and needed text so that most starts skip them; the same
// patterns as user rules are tried everywhere. Both must agree on every case.
TEST(RulesCorpus, FilingTheBuiltinsChangesNoResult) {
  std::vector<std::string> malformed;
  std::vector<CorpusCase> cases = load_corpus(malformed);
  RuleSettings unfiled;
  for (const BuiltinRule& rule : builtin_rules()) {
    unfiled.disabled_builtins.emplace_back(rule.name);
    unfiled.user_rules.push_back({"u-" + std::string(rule.name), std::string(rule.pattern), true});
  }
  auto plain = RuleSet::build(unfiled);
  ASSERT_TRUE(plain) << plain.error().detail;
  RuleSet filed;
  std::string differences;
  for (const CorpusCase& c : cases) {
    auto expected = plain->find_match(c.command);
    if (expected) expected->rule.erase(0, 2);
    if (filed.find_match(c.command) != expected) {
      differences += c.file + ":" + std::to_string(c.line) + "\n";
    }
  }
  EXPECT_TRUE(differences.empty()) << differences;
}

// Inputs built to make a careless checker quadratic, deeply recursive or lost; each is 1 MiB.
// Timing is measured in bench/rules_bench.cpp; here each must be read to its end.
TEST(RulesCorpus, WorstCaseInputsAreReadToTheEnd) {
  constexpr std::size_t size = 1 << 20;
  const std::string_view pieces[] = {
      "a;",
      "curl |",
      "rm -rf x ",
      "A=\"x;",
      "bash -c '",
      "(",
      "\\\n",
      "sudo ",
      "then ",
      "2>",
      "bash -c \"bash -c 'sh -c ",
      "$'\\x",
      "x\n",
      "&",
      "env -S '",
      ":(){ :|:",
      "\\",
      "rm -r x;",
      "(){|&}/dev/>;",
      "init ;",
      "find -exec ",
      "find . -exec x {} + ",
      "eval ",
      "xargs -n 1 rm -f;",
      "cd / && rm -f * ;",
      "python3 -c 'x;",
      "f(){ f|f ;}&",
  };
  RuleSet rules;
  for (std::string_view piece : pieces) {
    std::string text;
    while (text.size() < size)
      text += piece;
    EXPECT_EQ(rules.find_match(text), std::nullopt) << ::testing::PrintToString(piece);
    text += "\nreboot";
    auto hit = rules.find_match(text);
    EXPECT_TRUE(hit && hit->rule == "power") << ::testing::PrintToString(piece);
  }
}

}  // namespace
}  // namespace pendrel::desktop
