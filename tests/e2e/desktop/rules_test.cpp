// The dangerous-command rules through the real programs on a LOCAL host: what a match stops,
// what it leaves alone, the person's rule commands and the audit line.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "desktop_scene.h"

namespace pendrel::testing {
namespace {

namespace fs = std::filesystem;

class Rules : public ::testing::Test {
 protected:
  void SetUp() override {
    write_hosts(scene.data_dir, "[" + local_host("loc1", "here") + "]");
    // The running service follows the person's edits at its next exec.
    for (auto edit :
         std::vector<std::vector<std::string>>{{"rules", "add", "deploy-prod", R"(deploy-prod\b)"},
                                               {"rules", "disable", "git-force-push"}}) {
      RunResult result = admin(edit);
      ASSERT_EQ(result.exit_code, 0) << result.err;
    }
    ASSERT_TRUE(service.ready()) << service.stderr_text();
  }

  RunResult admin(std::vector<std::string> args) const {
    return run_pendrel({.args = std::move(args), .env = scene.env, .program = desktop_binary()});
  }

  DesktopScene scene;
  DesktopService service{scene.env, scene.data_dir};
};

TEST_F(Rules, AMatchRunsNothingAndNamesTheRule) {
  enum class Via { argument, stdin_script, terminal };
  struct Case {
    // {m} is a file the command would create before anything else; a dangerous part comes
    // after an exit, so that a check that failed would show but do no harm.
    std::string command;
    const char* rule;  // nullptr: the command runs
    Via via = Via::argument;
  };
  const Case cases[] = {
      {"touch {m}; exit 0; rm -rf /", "rm-root"},                               // after a separator
      {"touch {m}; exit 0 || sudo -u root reboot", "power"},                    // after sudo
      {"touch {m}\nexit 0\nmkfs.ext4 /dev/sdb1\n", "mkfs", Via::stdin_script},  // a --stdin script
      {"touch {m}; exit 0; dd if=/dev/zero of=/dev/sda", "dd-device", Via::terminal},
      {"touch {m}; exit 0; deploy-prod now", "deploy-prod"},                   // a user rule
      {"touch {m}; git push --force origin main 2>/dev/null; true", nullptr},  // disabled built-in
      {"touch {m}; rm -rf ./build; echo reboot", nullptr},                     // everyday commands
  };
  int n = 0;
  for (const auto& c : cases) {
    std::string marker = scene.home / ("marker" + std::to_string(++n));
    std::string command = c.command;
    command.replace(command.find("{m}"), 3, marker);
    RunResult result =
        c.via == Via::stdin_script
            ? run_pendrel(
                  {.args = {"exec", "here", "--stdin"}, .env = scene.env, .stdin_data = command})
        : c.via == Via::terminal ? scene.pendrel({"exec", "--terminal", "here", command})
                                 : scene.pendrel({"exec", "here", command});
    if (c.rule == nullptr) {
      EXPECT_EQ(result.exit_code, 0) << c.command << result.out;
      EXPECT_TRUE(fs::exists(marker)) << c.command;
      continue;
    }
    EXPECT_EQ(result.exit_code, 4) << c.command << result.out;
    EXPECT_FALSE(fs::exists(marker)) << c.command << " ran";
    EXPECT_NE(result.out.find(R"({"error":"command_blocked","message":")"), std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find(std::string("rule ") + c.rule), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("matched `"), std::string::npos) << result.out;
    EXPECT_NE(scene.audit().find(std::string(R"("outcome":"command_blocked","durationMs":)")),
              std::string::npos);
    EXPECT_NE(scene.audit().find(std::string(R"("rule":")") + c.rule + "\""), std::string::npos)
        << scene.audit();
  }
}

TEST_F(Rules, TextModeSaysWhatWasBlocked) {
  RunResult result =
      scene.pendrel({"exec", "here", "exit 0; shutdown -h now"}, StdoutMode::terminal);
  EXPECT_EQ(result.exit_code, 4);
  EXPECT_NE(result.err.find("pendrel: "), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("rule power ("), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("matched `shutdown"), std::string::npos) << result.err;
  EXPECT_EQ(result.err.find("blocked", result.err.find("blocked") + 1), std::string::npos)
      << "said once: " << result.err;
}

TEST_F(Rules, RulesBrokenByHandLeaveTheBuiltInsInForce) {
  const char* broken[] = {
      R"({"version":1,"rules":{"userRules":[{"name":"bad","pattern":"rm ("}]}})",  // no build
      R"({"version":1,"rules":{"disabledBuiltins":"all"}})",  // does not decode
  };
  for (const char* settings : broken) {
    std::ofstream(scene.data_dir + "/settings.json") << settings;
    RunResult result = scene.pendrel({"exec", "here", "exit 0; mkfs.ext4 /dev/sdb1"});
    EXPECT_EQ(result.exit_code, 4) << settings << result.out;
    EXPECT_NE(result.out.find("rule mkfs"), std::string::npos) << result.out;
  }
}

TEST_F(Rules, TheRuleCommandsRefuseWhatCannotWork) {
  struct Case {
    std::vector<std::string> args;
    const char* reason;
  };
  const Case cases[] = {
      {{"rules", "add", "broken", "rm (-rf"}, "missing )"},  // RE2's own words
      {{"rules", "add", "deploy-prod", "x"}, "already used"},
      {{"rules", "remove", "rm-root"}, "cannot be removed"},
      {{"rules", "enable", "no-such-rule"}, "no rule of that name"},
  };
  for (const auto& c : cases) {
    RunResult result = admin(c.args);
    EXPECT_EQ(result.exit_code, 1) << c.args[2];
    EXPECT_NE(result.err.find(c.reason), std::string::npos) << result.err;
  }
  std::string listed = admin({"rules", "list", "--json"}).out;
  EXPECT_NE(listed.find(R"({"name":"deploy-prod","kind":"user","enabled":true)"), std::string::npos)
      << listed;
  EXPECT_NE(listed.find(R"({"name":"git-force-push","kind":"builtin","enabled":false)"),
            std::string::npos);
  EXPECT_EQ(listed.find("broken"), std::string::npos) << "a refused rule is not saved";
}

}  // namespace
}  // namespace pendrel::testing
