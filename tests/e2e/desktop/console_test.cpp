// The approval console through the real programs, and a broker of the test's own, on a LOCAL host:
// a rule match put to a person at `pendrel-desktop console` on a pseudo-terminal, and every way its
// wait can end, as pendrel reports it in JSON mode and as the audit log records it.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>

#include "desktop_scene.h"
#include "pty_client.h"
#include "support/test_broker.h"

namespace pendrel::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::string_view master = "console-master-pass-3";
constexpr std::string_view pin = "246813";

class Console : public ::testing::Test {
 protected:
  void start(std::string_view approval_seconds) {
    if (desktop_binary().empty()) GTEST_SKIP() << "PENDREL_DESKTOP_BIN is not set";
    scene.env["PENDREL_DESKTOP_TEST_KDF"] = "interactive";
    scene.env["PENDREL_DESKTOP_TEST_APPROVAL_SECONDS"] = approval_seconds;
    // The console, the approvals and the audit are the broker's, as installed.
    broker.emplace(scene.home.path(), scene.env);
    ASSERT_TRUE(broker->ready()) << "the test's broker did not start";
    scene.env = broker->pointed_at(scene.env);
    scene.state_dir = broker->state_of(::getuid());
    ASSERT_EQ(admin({"host", "add", "here", "--protocol", "LOCAL", "--cli", "on"}).exit_code, 0);
    service.emplace(scene.env, scene.data_dir);
    ASSERT_TRUE(service->ready()) << service->stderr_text();
    std::string lines = std::string(master) + "\n";
    ASSERT_EQ(admin({"init", "--password-fd", "0"}, lines).exit_code, 0);
    ASSERT_EQ(
        admin({"pin", "set", "--password-fd", "0"}, lines + std::string(pin) + "\n").exit_code, 0);
    ASSERT_EQ(admin({"unlock", "--password-fd", "0"}, lines).exit_code, 0);
  }

  RunResult admin(std::vector<std::string> args, std::string input = {}) const {
    return run_pendrel({.args = std::move(args),
                        .env = scene.env,
                        .stdin_data = std::move(input),
                        .program = desktop_binary()});
  }

  // pendrel exec of a command that matches rm-root after it created `marker`, had it run.
  std::future<RunResult> exec_matching(const std::string& marker,
                                       std::chrono::milliseconds timeout = 30s) {
    std::string command = "touch " + marker + "; exit 0; rm -rf /";
    return std::async(std::launch::async, [this, command, timeout] {
      return run_pendrel({.args = {"exec", "here", command}, .env = scene.env, .timeout = timeout});
    });
  }

  // pendrel started apart, with its output on /dev/null, for a test to kill.
  pid_t spawn_pendrel(const std::vector<std::string>& args) const {
    return scene.spawn_pendrel(args);
  }

  std::string marker(std::string_view name) const { return scene.home / std::string(name); }

  DesktopScene scene;
  std::optional<TestBroker> broker;
  std::optional<DesktopService> service;  // the person's front
};

TEST_F(Console, APersonApprovesWithTheSecretAndEveryOtherEndRunsNothing) {
  start("30");
  if (IsSkipped()) return;
  auto console = std::make_unique<PtyClient>(scene.env, std::vector<std::string>{"console"});
  ASSERT_TRUE(console->wait_for("attached")) << console->shown;

  // Approved: a keystroke alone does nothing, a wrong secret does not approve, the PIN does.
  auto approved = exec_matching(marker("approved"));
  ASSERT_TRUE(console->wait_for("=== rule match #1")) << console->shown;
  EXPECT_TRUE(console->wait_for("\033[7mrm -rf /\033[27m")) << "the match is marked";
  EXPECT_TRUE(console->wait_for("s left")) << console->shown;
  console->type("y\n");
  console->type("a");
  ASSERT_TRUE(console->wait_for("PIN or master password (Enter sends")) << console->shown;
  console->type("135792\r");
  ASSERT_TRUE(console->wait_for("NOT approved: wrong secret")) << console->shown;
  EXPECT_FALSE(fs::exists(marker("approved")));
  console->type("a");
  console->type(std::string(pin) + "\r");
  ASSERT_TRUE(console->wait_for("#1 approved: the command runs")) << console->shown;
  RunResult ran = approved.get();
  EXPECT_EQ(ran.exit_code, 0) << ran.out << ran.err;
  EXPECT_TRUE(fs::exists(marker("approved")));
  EXPECT_TRUE(console->wait_for("exec  here  pid ")) << "the request shows live";
  EXPECT_EQ(console->shown.find(pin), std::string::npos) << "the PIN was echoed";

  // Refused with one key.
  auto refused = exec_matching(marker("refused"));
  ASSERT_TRUE(console->wait_for("=== rule match #2")) << console->shown;
  console->type("r");
  RunResult denied = refused.get();
  EXPECT_EQ(denied.exit_code, 4);
  EXPECT_NE(denied.out.find(R"({"error":"command_denied","message":"rule rm-root)"),
            std::string::npos)
      << denied.out;
  EXPECT_NE(denied.out.find("refused at the console"), std::string::npos) << denied.out;

  // The caller gives up while it waits.
  pid_t abandoned = spawn_pendrel({"exec", "here", "touch " + marker("abandoned") + "; rm -rf /"});
  ASSERT_TRUE(console->wait_for("=== rule match #3")) << console->shown;
  ::kill(abandoned, SIGKILL);
  ::waitpid(abandoned, nullptr, 0);
  EXPECT_TRUE(console->wait_for("#3 the caller went away")) << console->shown;

  // Locked while it waits; the master password still approves a locked vault's match.
  auto locked = exec_matching(marker("locked"));
  ASSERT_TRUE(console->wait_for("=== rule match #4")) << console->shown;
  ASSERT_EQ(admin({"lock"}).exit_code, 0);
  RunResult locked_out = locked.get();
  EXPECT_EQ(locked_out.exit_code, 6);
  EXPECT_NE(locked_out.out.find(R"({"error":"app_locked")"), std::string::npos) << locked_out.out;
  auto by_master = exec_matching(marker("by-master"));
  ASSERT_TRUE(console->wait_for("=== rule match #5")) << console->shown;
  console->type("a" + std::string(master) + "\r");
  EXPECT_EQ(by_master.get().exit_code, 0);

  // The last console goes while it waits.
  auto detached = exec_matching(marker("detached"));
  ASSERT_TRUE(console->wait_for("=== rule match #6")) << console->shown;
  EXPECT_EQ(console->hang_up(), 0);
  RunResult blocked = detached.get();
  EXPECT_EQ(blocked.exit_code, 4);
  EXPECT_NE(blocked.out.find(R"({"error":"command_blocked")"), std::string::npos) << blocked.out;
  EXPECT_NE(blocked.out.find("every console closed"), std::string::npos) << blocked.out;

  // No console: blocked at once, as ever.
  RunResult alone = run_pendrel(
      {.args = {"exec", "here", "touch " + marker("alone") + "; rm -rf /"}, .env = scene.env});
  EXPECT_EQ(alone.exit_code, 4);
  EXPECT_NE(alone.out.find(R"({"error":"command_blocked")"), std::string::npos) << alone.out;

  for (const char* name : {"refused", "abandoned", "locked", "detached", "alone"})
    EXPECT_FALSE(fs::exists(marker(name))) << name << " ran";
  std::string audit = scene.audit();
  for (const char* line : {R"("outcome":"ok","exitCode":0,)", R"("outcome":"command_denied",)",
                           R"("outcome":"canceled",)", R"("outcome":"app_locked",)",
                           R"("outcome":"command_blocked",)"}) {
    EXPECT_NE(audit.find(line), std::string::npos) << line << "\n" << audit;
  }
  for (const char* approval : {"approved", "refused", "caller_gone", "locked", "detached"}) {
    EXPECT_NE(audit.find(std::string(R"("rule":"rm-root","approval":")") + approval + "\""),
              std::string::npos)
        << approval << "\n"
        << audit;
  }
  EXPECT_EQ(audit.find(pin), std::string::npos);
  EXPECT_EQ(audit.find(master), std::string::npos);
}

TEST_F(Console, AMatchNobodyAnswersTimesOutAndBlockingOutrightAsksNobody) {
  start("2");
  if (IsSkipped()) return;
  PtyClient console(scene.env, {"console"});
  ASSERT_TRUE(console.wait_for("attached")) << console.shown;
  RunResult result = exec_matching(marker("late")).get();
  EXPECT_EQ(result.exit_code, 4);
  EXPECT_NE(result.out.find(R"({"error":"command_denied")"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("not approved within 2 s"), std::string::npos) << result.out;
  EXPECT_TRUE(console.wait_for("timed out: command_denied")) << console.shown;
  EXPECT_FALSE(fs::exists(marker("late")));
  EXPECT_NE(scene.audit().find(R"("rule":"rm-root","approval":"timed_out")"), std::string::npos)
      << scene.audit();

  // Blocking outright asks nobody, console or not.
  ASSERT_EQ(
      admin({"rules", "block", "on", "--password-fd", "0"}, std::string(master) + "\n").exit_code,
      0);
  RunResult blocked = exec_matching(marker("blocked")).get();
  EXPECT_EQ(blocked.exit_code, 4);
  EXPECT_NE(blocked.out.find(R"({"error":"command_blocked")"), std::string::npos) << blocked.out;
  EXPECT_FALSE(console.wait_for("=== rule match #2", 500ms)) << console.shown;
}

}  // namespace
}  // namespace pendrel::testing
