#include "protocol/data_dir.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <optional>
#include <string>

#include "protocol/lexical_path.h"
#include "protocol/os_error.h"
#include "support/temp_dir.h"

namespace pendrel {
namespace {

using Variables = std::map<std::string, std::string, std::less<>>;

DataDirQueries fixed_queries(std::expected<std::string, int> working_dir,
                             std::optional<std::string> password_home) {
  return DataDirQueries{[working_dir] { return working_dir; },
                        [password_home] { return password_home; }};
}

struct FoundCase {
  const char* name;
  Variables variables;
  std::optional<std::string> password_home;
  std::string expected;
};

TEST(FindDataDir, FollowsOverrideThenConfigDirectoryRules) {
  const FoundCase cases[] = {
      {"relative override under the working directory",
       {{"PENDREL_DATA_DIR", "rel/dir"}},
       std::nullopt,
       "/home/u/rel/dir"},
      {"leading ./ dropped", {{"PENDREL_DATA_DIR", "./rel/dir"}}, std::nullopt, "/home/u/rel/dir"},
      {"dots and repeated slashes go, trailing slash stays",
       {{"PENDREL_DATA_DIR", "/a/./b//c/"}},
       std::nullopt,
       "/a/b/c/"},
      {"dot-dot kept", {{"PENDREL_DATA_DIR", "/a/../b"}}, std::nullopt, "/a/../b"},
      {"two leading slashes kept", {{"PENDREL_DATA_DIR", "//srv/x"}}, std::nullopt, "//srv/x"},
      {"three leading slashes become one",
       {{"PENDREL_DATA_DIR", "///srv/x"}},
       std::nullopt,
       "/srv/x"},
      {"override wins over the configuration directory",
       {{"PENDREL_DATA_DIR", "/d"}, {"XDG_CONFIG_HOME", "/x/cfg"}, {"HOME", "/home/u"}},
       std::nullopt,
       "/d"},
      {"override bytes kept raw", {{"PENDREL_DATA_DIR", "/d\xff\xfe"}}, std::nullopt, "/d\xff\xfe"},
      {"empty override treated as unset",
       {{"PENDREL_DATA_DIR", ""}, {"XDG_CONFIG_HOME", "/x/cfg"}},
       std::nullopt,
       "/x/cfg/pendrel"},
      {"absolute XDG_CONFIG_HOME",
       {{"XDG_CONFIG_HOME", "/x/cfg"}, {"HOME", "/home/u"}},
       std::nullopt,
       "/x/cfg/pendrel"},
      {"relative XDG_CONFIG_HOME ignored",
       {{"XDG_CONFIG_HOME", "cfg"}, {"HOME", "/home/u"}},
       std::nullopt,
       "/home/u/.config/pendrel"},
      {"empty XDG_CONFIG_HOME ignored",
       {{"XDG_CONFIG_HOME", ""}, {"HOME", "/home/u"}},
       std::nullopt,
       "/home/u/.config/pendrel"},
      {"relative HOME used as it is", {{"HOME", "u"}}, std::nullopt, "u/.config/pendrel"},
      {"HOME preferred to the password database",
       {{"HOME", "/home/u"}},
       "/home/pw",
       "/home/u/.config/pendrel"},
      {"empty HOME falls back to the password database",
       {{"HOME", ""}},
       "/home/pw",
       "/home/pw/.config/pendrel"},
      {"unset HOME falls back to the password database",
       {},
       "/home/pw",
       "/home/pw/.config/pendrel"},
      {"root home joins without a double slash", {{"HOME", "/"}}, std::nullopt, "/.config/pendrel"},
  };
  for (const FoundCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto found = find_data_dir(Environment(c.variables), fixed_queries("/home/u", c.password_home));
    ASSERT_TRUE(found.has_value()) << found.error().text();
    EXPECT_EQ(*found, c.expected);
  }
}

TEST(FindDataDir, NoHomeAnywhereIsNoConfigDir) {
  const Variables cases[] = {
      {},
      {{"HOME", ""}},
      {{"HOME", ""}, {"XDG_CONFIG_HOME", "cfg"}, {"PENDREL_DATA_DIR", ""}},
  };
  for (const Variables& variables : cases) {
    auto found = find_data_dir(Environment(variables), fixed_queries("/home/u", std::nullopt));
    ASSERT_FALSE(found.has_value());
    EXPECT_EQ(found.error().kind, DataDirError::Kind::no_config_dir);
    EXPECT_EQ(found.error().text(), "找不到系统的配置目录");
  }
}

TEST(FindDataDir, UnreadableWorkingDirectoryFailsRelativeOverrideWithoutFallback) {
  Environment environment(
      Variables{{"PENDREL_DATA_DIR", "rel"}, {"XDG_CONFIG_HOME", "/x/cfg"}, {"HOME", "/h"}});
  auto found = find_data_dir(environment, fixed_queries(std::unexpected(ENOENT), "/home/pw"));
  ASSERT_FALSE(found.has_value());
  EXPECT_EQ(found.error().kind, DataDirError::Kind::bad_override);
  EXPECT_EQ(found.error().text(),
            "PENDREL_DATA_DIR 不是有效的路径（" + os_error_text(ENOENT) + "）");

  // An absolute override never needs the working directory.
  environment.set("PENDREL_DATA_DIR", "/abs");
  auto absolute = find_data_dir(environment, fixed_queries(std::unexpected(ENOENT), std::nullopt));
  ASSERT_TRUE(absolute.has_value());
  EXPECT_EQ(*absolute, "/abs");
}

// Moves into a fresh directory and removes it; the original working directory comes back
// when the scope ends, whatever the test did.
class RemovedWorkingDirectory {
 public:
  RemovedWorkingDirectory() : original_(*current_working_directory()) {
    std::string doomed = temp_ / "gone";
    EXPECT_EQ(::mkdir(doomed.c_str(), 0700), 0);
    EXPECT_EQ(::chdir(doomed.c_str()), 0);
    EXPECT_EQ(::rmdir(doomed.c_str()), 0);
  }
  ~RemovedWorkingDirectory() { EXPECT_EQ(::chdir(original_.c_str()), 0); }

 private:
  std::string original_;
  testing::TempDir temp_;
};

TEST(FindDataDir, RemovedWorkingDirectoryOfTheProcessGivesBadOverride) {
  RemovedWorkingDirectory removed;
  auto found = find_data_dir(Environment(Variables{{"PENDREL_DATA_DIR", "rel/dir"}}));
  ASSERT_FALSE(found.has_value());
  EXPECT_EQ(found.error().kind, DataDirError::Kind::bad_override);
  EXPECT_EQ(found.error().error_number, ENOENT);
  EXPECT_EQ(found.error().text(),
            "PENDREL_DATA_DIR 不是有效的路径（No such file or directory (os error 2)）");
  // The working form falls back to the directory as given.
  EXPECT_EQ(working_form("u/.config/pendrel"), "u/.config/pendrel");
}

TEST(WorkingForm, AppliesTheLexicalRuleAgainstTheProcessWorkingDirectory) {
  std::string cwd = *current_working_directory();
  EXPECT_EQ(working_form("u/.config/pendrel"), cwd + "/u/.config/pendrel");
  EXPECT_EQ(working_form("/a/./b//c/"), "/a/b/c/");
  EXPECT_EQ(working_form("//srv/x"), "//srv/x");
}

TEST(PasswordDatabaseHome, MatchesTheEntryOfTheRealUser) {
  passwd* entry = ::getpwuid(::getuid());
  std::optional<std::string> expected;
  if (entry != nullptr && entry->pw_dir != nullptr && entry->pw_dir[0] != '\0') {
    expected = entry->pw_dir;
  }
  EXPECT_EQ(password_database_home(), expected);
}

}  // namespace
}  // namespace pendrel
