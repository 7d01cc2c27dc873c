#include "caller/caller.h"

#include <gtest/gtest.h>

#include <string>

#include "support/temp_dir.h"

namespace pendrel {
namespace {

using ::pendrel::testing::TempDir;
using ::pendrel::testing::write_file;

// A stat line as the kernel writes it: pid, (name), state, parent id, then more fields.
std::string stat_line(std::uint32_t pid, std::string_view name, std::string_view parent) {
  return std::to_string(pid) + " (" + std::string(name) + ") S " + std::string(parent) +
         " 100 100 0 -1 4194560\n";
}

class FakeProc {
 public:
  void add(std::uint32_t pid, std::string_view name, std::string_view parent) {
    write_file(root_ / (std::to_string(pid) + "/stat"), stat_line(pid, name, parent));
  }
  void add_raw(std::uint32_t pid, std::string_view text) {
    write_file(root_ / (std::to_string(pid) + "/stat"), text);
  }
  [[nodiscard]] std::vector<std::string> callers_of(std::uint32_t pid) const {
    return caller_list(root_.path(), pid);
  }

 private:
  TempDir root_;
};

using Names = std::vector<std::string>;

TEST(ParseProcessStatus, NameRunsFromFirstOpenToLastClose) {
  auto status = parse_process_status("42 (a) b (c) S 7 42 42 0");
  ASSERT_TRUE(status);
  EXPECT_EQ(status->name, "a) b (c");
  EXPECT_EQ(status->parent, 7u);
}

TEST(ParseProcessStatus, ParentFieldRules) {
  const std::pair<std::string, std::optional<std::uint32_t>> cases[] = {
      {"1 (x) S 0 1", 0u},
      {"1 (x) S +12 1", 12u},
      {"1 (x) S 4294967295 1", 4294967295u},
      {"1 (x)\tS\n9", 9u},
      {"1 (x) S 4294967296 1", std::nullopt},
      {"1 (x) S -1 1", std::nullopt},
      {"1 (x) S + 1", std::nullopt},
      {"1 (x) S ++3 1", std::nullopt},
      {"1 (x) S 3a 1", std::nullopt},
      {"1 (x) S", std::nullopt},
      {"1 (x) S ", std::nullopt},
      {"1 x) S 3", std::nullopt},
      {"1 (x S 3", std::nullopt},
      {"1 )x( S 3", std::nullopt},
  };
  for (const auto& [text, parent] : cases) {
    auto status = parse_process_status(text);
    if (parent) {
      ASSERT_TRUE(status) << text;
      EXPECT_EQ(status->parent, *parent) << text;
    } else {
      EXPECT_FALSE(status) << text;
    }
  }
}

TEST(CallerList, NearestFirstAndOwnNameLeftOut) {
  FakeProc proc;
  proc.add(100, "pendrel", "90");
  proc.add(90, "bash", "80");
  proc.add(80, "node", "1");
  proc.add(1, "init", "0");
  EXPECT_EQ(proc.callers_of(100), (Names{"bash", "node", "init"}));
}

TEST(CallerList, KeepsNamesWithParenthesesAndSpaces) {
  FakeProc proc;
  proc.add(100, "pendrel", "90");
  proc.add(90, "tmux: server) (x", "0");
  EXPECT_EQ(proc.callers_of(100), (Names{"tmux: server) (x"}));
}

TEST(CallerList, SevenAncestorsGiveTheFiveNearest) {
  FakeProc proc;
  proc.add(100, "pendrel", "7");
  for (std::uint32_t pid = 7; pid >= 1; --pid) {
    proc.add(pid, "p" + std::to_string(pid), std::to_string(pid - 1));
  }
  EXPECT_EQ(proc.callers_of(100), (Names{"p7", "p6", "p5", "p4", "p3"}));
}

TEST(CallerList, EmptyNameIsSkippedButWalkedThrough) {
  FakeProc proc;
  proc.add(100, "pendrel", "6");
  proc.add(6, "", "5");
  for (std::uint32_t pid = 5; pid >= 1; --pid) {
    proc.add(pid, "p" + std::to_string(pid), std::to_string(pid - 1));
  }
  EXPECT_EQ(proc.callers_of(100), (Names{"p5", "p4", "p3", "p2", "p1"}));
}

TEST(CallerList, BadParentFieldEndsTheWalkWithoutThatProcess) {
  for (std::string_view parent : {"-1", "+", "4294967296"}) {
    FakeProc proc;
    proc.add(100, "pendrel", "90");
    proc.add(90, "bash", "80");
    proc.add(80, "broken", parent);
    EXPECT_EQ(proc.callers_of(100), (Names{"bash"})) << parent;
  }
  FakeProc proc;
  proc.add(100, "pendrel", "90");
  proc.add(90, "bash", "80");
  proc.add_raw(80, "80 (missing) S");
  EXPECT_EQ(proc.callers_of(100), (Names{"bash"}));
}

TEST(CallerList, UnreadableOrInvalidEntriesEndTheWalk) {
  FakeProc proc;
  proc.add(100, "pendrel", "90");
  proc.add(90, "bash", "80");  // 80 has no stat file
  EXPECT_EQ(proc.callers_of(100), (Names{"bash"}));
  proc.add_raw(80, "80 (bad\xff) S 1");
  proc.add(1, "init", "0");
  EXPECT_EQ(proc.callers_of(100), (Names{"bash"}));
}

TEST(CallerList, OwnEntryUnreadableGivesEmptyList) {
  FakeProc proc;
  proc.add(90, "bash", "0");
  EXPECT_TRUE(proc.callers_of(100).empty());
}

TEST(CallerList, CycleStops) {
  FakeProc proc;
  proc.add(100, "pendrel", "90");
  proc.add(90, "a", "80");
  proc.add(80, "b", "90");
  EXPECT_EQ(proc.callers_of(100), (Names{"a", "b"}));
  FakeProc own_loop;
  own_loop.add(100, "pendrel", "90");
  own_loop.add(90, "a", "100");
  EXPECT_EQ(own_loop.callers_of(100), (Names{"a"}));
}

TEST(CallerList, MissingProcRootGivesEmptyList) {
  EXPECT_TRUE(caller_list("/nonexistent/proc", 1).empty());
}

}  // namespace
}  // namespace pendrel
