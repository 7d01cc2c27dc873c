#include "protocol/launch_config.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "support/temp_dir.h"

namespace pendrel {
namespace {

struct ConfigCase {
  const char* name;
  std::string content;
  bool expected_auto_start;
};

TEST(LoadLaunchConfig, OnlyAValidObjectWithAutoStartFalseGivesFalse) {
  const ConfigCase cases[] = {
      {"false beside an array member", R"({"autoStart": false, "hosts": [1, {"a": null}]})", false},
      {"white space around the object", " \n\t{\"autoStart\":false}\r\n ", false},
      {"escaped member name", R"({"auto\u0053tart": false})", false},
      {"other members of any type", R"({"x": "s", "y": 1.5, "z": null, "autoStart": false})",
       false},
      {"true", R"({"autoStart": true})", true},
      {"string false", R"({"autoStart": "false"})", true},
      {"null", R"({"autoStart": null})", true},
      {"number 0", R"({"autoStart": 0})", true},
      {"differently spelled key", R"({"AutoStart": false})", true},
      {"empty object", "{}", true},
      {"given twice, both false", R"({"autoStart": false, "autoStart": false})", true},
      {"given twice, true then false", R"({"autoStart": true, "autoStart": false})", true},
      {"stray letter after the object", R"({"autoStart": false}x)", true},
      {"second value after the object", R"({"autoStart": false} {})", true},
      {"empty file", "", true},
      {"white space only", "  \n", true},
      {"truncated object", R"({"autoStart": false)", true},
      {"array holding the boolean", "[false]", true},
      {"bare false", "false", true},
      {"not UTF-8 inside a skipped string", "{\"autoStart\": false, \"n\": \"\xff\"}", true},
  };
  for (const ConfigCase& c : cases) {
    SCOPED_TRACE(c.name);
    testing::TempDir data_dir;
    testing::write_file(data_dir / "cli-launch.json", c.content);
    EXPECT_EQ(load_launch_config(data_dir.path()).auto_start, c.expected_auto_start);
  }
}

TEST(LoadLaunchConfig, MissingOrUnreadableFileGivesTrue) {
  testing::TempDir data_dir;
  EXPECT_TRUE(load_launch_config(data_dir.path()).auto_start);
  EXPECT_TRUE(load_launch_config(data_dir / "no/such/dir").auto_start);

  // A directory in place of the file cannot be read as one.
  ASSERT_EQ(::mkdir((data_dir / "cli-launch.json").c_str(), 0700), 0);
  EXPECT_TRUE(load_launch_config(data_dir.path()).auto_start);
}

TEST(LoadLaunchConfig, UnreadablePermissionsGiveTrue) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads files whatever their mode";
  testing::TempDir data_dir;
  std::string path = data_dir / "cli-launch.json";
  testing::write_file(path, R"({"autoStart": false})");
  ASSERT_EQ(::chmod(path.c_str(), 0), 0);
  EXPECT_TRUE(load_launch_config(data_dir.path()).auto_start);
}

}  // namespace
}  // namespace pendrel
