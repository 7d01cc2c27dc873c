// The dangerous-command rules through the real programs and a broker of the test's own, on a
// LOCAL host: what a match stops, what it leaves alone, the person's rule commands and the
// audit line.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "desktop_scene.h"
#include "support/test_broker.h"

namespace pendrel::testing {
namespace {

namespace fs = std::filesystem;

class Rules : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pointed) << "the test's broker did not start";
    // The running service follows the person's edits at its next exec.
    for (auto edit : std::vector<std::vector<std::string>>{
             {"host", "add", "here", "--protocol", "LOCAL", "--cli", "on"},
             {"rules", "add", "deploy-prod", R"(deploy-prod\b)"},
             {"rules", "disable", "git-force-push"}}) {
      RunResult result = admin(edit);
      ASSERT_EQ(result.exit_code, 0) << result.err;
    }
    ASSERT_TRUE(service.ready()) << service.stderr_text();
  }

  RunResult admin(std::vector<std::string> args, std::string input = {}) const {
    return run_pendrel({.args = std::move(args),
                        .env = scene.env,
                        .stdin_data = std::move(input),
                        .program = desktop_binary()});
  }

  // The rule that stops `command` on the LOCAL host, "ran" when it runs, or pendrel's answer.
  std::string stopped_by(const std::string& command) const {
    RunResult result = scene.pendrel({"exec", "here", "exit 0; " + command});
    if (result.exit_code == 0) return "ran";
    auto at = result.out.find("rule ");
    if (result.exit_code != 4 || at == std::string::npos) return result.out;
    at += 5;
    return result.out.substr(at, result.out.find(' ', at) - at);
  }

  // The rules, the settings and the audit are the broker's, as installed; the front is the
  // person's.
  bool point_at_broker() {
    scene.env = broker.pointed_at(scene.env);
    scene.state_dir = broker.state_of(::getuid());
    return broker.ready();
  }

  DesktopScene scene;
  TestBroker broker{scene.home.path(), scene.env};
  bool pointed = point_at_broker();
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
    std::ofstream(scene.store_dir() + "/settings.json") << settings;
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

TEST_F(Rules, OnceThereIsAVaultOnlyTheMasterPasswordChangesThem) {
  const std::string master = "rules-master-password-3";
  const std::string with_master = master + "\n";
  scene.env["PENDREL_DESKTOP_TEST_KDF"] = "interactive";
  ASSERT_EQ(admin({"init", "--password-fd", "0"}, with_master).exit_code, 0);

  // Locked: every built-in is on again; the person's own rules still apply from their copy.
  EXPECT_EQ(stopped_by("git push --force origin main"), "git-force-push");
  EXPECT_EQ(stopped_by("deploy-prod now"), "deploy-prod");

  // Without the master password, or with a wrong one, nothing changes.
  std::string settings_before = read_file(scene.store_dir() + "/settings.json");
  EXPECT_EQ(admin({"rules", "disable", "rm-root"}).exit_code, 1);
  RunResult wrong = admin({"rules", "disable", "rm-root", "--password-fd", "0"}, "guess\n");
  EXPECT_EQ(wrong.exit_code, 1);
  EXPECT_NE(wrong.err.find("wrong password"), std::string::npos) << wrong.err;
  EXPECT_EQ(admin({"rules", "list"}).exit_code, 1) << "listing the vault's rules needs it too";
  EXPECT_EQ(read_file(scene.store_dir() + "/settings.json"), settings_before);

  RunResult added =
      admin({"rules", "add", "drop-db", R"(dropdb\b)", "--password-fd", "0"}, with_master);
  ASSERT_EQ(added.exit_code, 0) << added.err;
  RunResult listed = admin({"rules", "list", "--json", "--password-fd", "0"}, with_master);
  EXPECT_NE(listed.out.find(R"({"name":"drop-db","kind":"user","enabled":true)"), std::string::npos)
      << listed.out << listed.err;
  ASSERT_EQ(admin({"unlock", "--password-fd", "0"}, with_master).exit_code, 0);
  EXPECT_EQ(stopped_by("dropdb main"), "drop-db");
  EXPECT_EQ(stopped_by("git push --force origin main 2>/dev/null; true"), "ran");

  // settings.json edited behind the service's back can add a rule, never take one away.
  std::ofstream(scene.store_dir() + "/settings.json")
      << R"({"version":1,"externalCli":true,"rules":{"userRules":[{"name":"no-curl",)"
      << R"("pattern":"curl\\b","enabled":true}],"disabledBuiltins":["mkfs"],"onMatch":"ask"}})";
  EXPECT_EQ(stopped_by("mkfs.ext4 /dev/sdb1"), "mkfs");
  EXPECT_EQ(stopped_by("dropdb main"), "drop-db");
  EXPECT_EQ(stopped_by("curl example.invalid"), "no-curl");

  // Nor can it switch command-line access back on while the vault is open.
  ASSERT_EQ(admin({"cli", "off", "--password-fd", "0"}, with_master).exit_code, 0);
  std::ofstream(scene.store_dir() + "/settings.json") << R"({"version":1,"externalCli":true})";
  EXPECT_NE(scene.pendrel({"exec", "here", "true"}).out.find("cli_disabled"), std::string::npos);
}

}  // namespace
}  // namespace pendrel::testing
