// `pendrel exec --terminal` through the real programs: a person's LOCAL terminal opened with
// `pendrel-desktop term` on a pseudo-terminal the test holds, and pendrel typing into it.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utmp.h>

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <thread>

#include "desktop_scene.h"
#include "pty_client.h"
#include "ssh_scene.h"
#include "support/test_broker.h"

namespace pendrel::testing {
namespace {

using namespace std::chrono_literals;

class ExecInTerminal : public ::testing::Test {
 protected:
  void SetUp() override {
    if (desktop_binary().empty()) GTEST_SKIP() << "PENDREL_DESKTOP_BIN is not set";
    broker.emplace(scene.home.path(), scene.env);
    ASSERT_TRUE(broker->ready()) << "the test's broker did not start";
    scene.env = broker->pointed_at(scene.env);
    // A terminal whose line editor asks for bracketed paste, as a person's does.
    scene.env["TERM"] = "xterm";
    scene.state_dir = broker->state_of(::getuid());
    ASSERT_EQ(admin({"host", "add", "here", "--protocol", "LOCAL", "--cli", "on"}).exit_code, 0);
    front.emplace(scene.env, scene.data_dir);
    ASSERT_TRUE(front->ready()) << front->stderr_text();
  }

  RunResult admin(std::vector<std::string> args) const {
    return run_pendrel({.args = std::move(args), .env = scene.env, .program = desktop_binary()});
  }
  // A person's new terminal on `here`, at its prompt in `directory`. Without a vault there is
  // no secret to give.
  std::unique_ptr<PtyClient> open_terminal(const std::string& directory) {
    auto person =
        std::make_unique<PtyClient>(scene.env, std::vector<std::string>{"term", "here"}, 200);
    EXPECT_TRUE(person->wait_for("Ctrl-\\ detaches")) << person->shown;
    EXPECT_TRUE(person->runs("cd " + directory + "; echo ready-$((6*7))", "ready-42"))
        << person->shown;
    return person;
  }
  RunResult exec(const std::string& command) const {
    return scene.pendrel({"exec", "--terminal", "here", command});
  }

  DesktopScene scene;
  std::optional<TestBroker> broker;
  std::optional<DesktopService> front;
};

TEST_F(ExecInTerminal, RunsVisiblyInTheNewestTerminalAndLeavesTheShellAsItWas) {
  TempDir work;
  auto older = open_terminal("/");
  auto person = open_terminal(work.path());

  RunResult answer = exec("echo out; echo err >&2; exit 3");
  EXPECT_EQ(answer.exit_code, 3) << answer.out << answer.err;
  EXPECT_NE(answer.out.find(R"("exitCode":3,"stdout":"out\nerr\n","stderr":"")"), std::string::npos)
      << answer.out;
  EXPECT_NE(answer.out.find(R"("truncated":false)"), std::string::npos) << answer.out;
  EXPECT_TRUE(person->wait_for("echo out; echo err >&2; exit 3")) << person->shown;
  EXPECT_TRUE(person->wait_for("out\r\nerr\r\n")) << person->shown;
  EXPECT_EQ(older->shown.find("echo out"), std::string::npos);

  // The directory and exported variables are the terminal's; the command's own stay its own.
  RunResult inherited = exec("pwd; cd /; export LEAKED=yes; pwd");
  EXPECT_EQ(inherited.exit_code, 0) << inherited.out << inherited.err;
  EXPECT_NE(inherited.out.find(R"("stdout":")" + work.path() + R"(\n/\n")"), std::string::npos)
      << inherited.out;
  EXPECT_TRUE(person->runs("echo \"now in $(pwd) [${LEAKED-unset}]\"",
                           "now in " + work.path() + " [unset]"))
      << person->shown;

  // A --stdin script far longer than a terminal's input line goes in pieces, never refused.
  std::string script = "# a script of 100 KB\n";
  for (int i = 0; script.size() < 100'000; ++i)
    script += ": 'line " + std::to_string(i) + " \"q\" $HOME `b` \\ \xC3\xA9\xE4\xB8\x96 %d'\n";
  script += "printf 'it'\\''s %s\\n' \"done-$((6*7))\"\n";
  RunResult long_script = run_pendrel({.args = {"exec", "--terminal", "here", "--stdin"},
                                       .env = scene.env,
                                       .stdin_data = script,
                                       .timeout = 120s});
  EXPECT_EQ(long_script.exit_code, 0) << long_script.out << long_script.err;
  EXPECT_NE(long_script.out.find(R"("stdout":"it's done-42\n")"), std::string::npos)
      << long_script.out;

  std::string audit = scene.audit();
  EXPECT_NE(audit.find(R"("kind":"exec")"), std::string::npos) << audit;
  EXPECT_NE(audit.find(R"("command":"echo out; echo err >&2; exit 3")"), std::string::npos)
      << audit;
  EXPECT_NE(audit.find(R"("terminal":"l2","outcome":"ok","exitCode":3)"), std::string::npos)
      << audit;
}

TEST_F(ExecInTerminal, TypesNothingIntoABusyTerminalAndSendsCtrlCForAKilledCaller) {
  auto person = open_terminal("/");
  person->type("sleep 30\r");
  ASSERT_TRUE(person->wait_for("sleep 30"));
  RunResult busy = exec("echo typed-$((1+1))");
  EXPECT_EQ(busy.exit_code, 5) << busy.out;
  EXPECT_NE(busy.out.find("terminal_busy"), std::string::npos) << busy.out;
  EXPECT_NE(busy.out.find("a program runs in it"), std::string::npos) << busy.out;
  person->type("\x03");
  ASSERT_TRUE(person->runs("printf '\\033[?1049h'; echo full-$((2*4)); sleep 30", "full-8"));
  RunResult full_screen = exec("echo typed-$((1+1))");
  EXPECT_NE(full_screen.out.find("a full-screen program is open in it"), std::string::npos)
      << full_screen.out;
  person->type("\x03");
  ASSERT_TRUE(person->runs("printf '\\033[?1049l'; echo back-$((3*3))", "back-9"));
  EXPECT_EQ(person->shown.find("typed-2"), std::string::npos) << "nothing was typed";

  // pendrel killed while its command runs: Ctrl-C once, and the terminal is free again.
  pid_t caller =
      scene.spawn_pendrel({"exec", "--terminal", "here", "echo started-$((5*5)); sleep 30"});
  ASSERT_TRUE(person->wait_for("started-25")) << person->shown;
  ::kill(caller, SIGKILL);
  ::waitpid(caller, nullptr, 0);
  EXPECT_TRUE(person->wait_for("^C")) << person->shown;
  RunResult after;
  for (int attempt = 0; attempt < 50; ++attempt) {
    after = exec("echo free-$((4*4))");
    if (after.exit_code == 0) break;
    std::this_thread::sleep_for(100ms);
  }
  EXPECT_NE(after.out.find(R"("stdout":"free-16\n")"), std::string::npos) << after.out;
  std::string audit = scene.audit();
  EXPECT_NE(audit.find(R"("terminal":"l1","outcome":"canceled")"), std::string::npos) << audit;
  EXPECT_NE(audit.find(R"("terminal":"l1","outcome":"terminal_busy")"), std::string::npos) << audit;
}

TEST_F(ExecInTerminal, NeedsAnAttachedTerminalAndPassesTheRulesFirst) {
  RunResult none = exec("true");
  EXPECT_EQ(none.exit_code, 5) << none.out;
  EXPECT_NE(none.out.find("terminal_not_open"), std::string::npos) << none.out;
  EXPECT_NE(none.out.find("no terminal of here is open"), std::string::npos) << none.out;

  auto person = open_terminal("/");
  // The rules stop a dangerous command before any terminal is looked at.
  RunResult blocked = exec("rm -rf /");
  EXPECT_EQ(blocked.exit_code, 4) << blocked.out;
  EXPECT_NE(blocked.out.find("command_blocked"), std::string::npos) << blocked.out;
  EXPECT_EQ(person->shown.find("rm -rf"), std::string::npos);

  person->type("\x1c");  // Ctrl-\ detaches
  ASSERT_TRUE(person->wait_for("detached from terminal l1")) << person->shown;
  RunResult unattached = exec("true");
  EXPECT_NE(unattached.out.find("terminal_not_open"), std::string::npos) << unattached.out;
  EXPECT_NE(unattached.out.find("no one is attached to the open terminals of here (l1)"),
            std::string::npos)
      << unattached.out;
}

class ExecInSshTerminal : public SshScene {};

TEST_F(ExecInSshTerminal, TypesOnlyWhereTheShellSignalsItsPromptAndAnswersFromTheOutput) {
  add_key_host("web");
  trust_host_key("web");
  start_service();
  auto env = scene.env;
  env["TERM"] = "xterm";
  PtyClient person(env, {"term", "web"}, 200);
  ASSERT_TRUE(person.wait_for("Master password or PIN: ")) << person.shown;
  person.type(std::string(ssh_master) + "\r");
  ASSERT_TRUE(person.wait_for("Ctrl-\\ detaches")) << person.shown;
  ASSERT_TRUE(person.runs("cd /tmp; echo ready-$((6*7))", "ready-42")) << person.shown;

  // The test user's sh asks for no bracketed paste and marks no prompt: over SSH nothing then
  // says that it waits for a line.
  RunResult silent = scene.pendrel({"exec", "--terminal", "web", "echo typed-$((1+1))"});
  EXPECT_NE(silent.out.find("terminal_busy"), std::string::npos) << silent.out;
  EXPECT_NE(silent.out.find("no sign of waiting at its prompt"), std::string::npos) << silent.out;

  ASSERT_TRUE(person.runs("exec bash --norc; echo never", "$ ")) << person.shown;
  ASSERT_TRUE(person.runs("export KEPT=person; echo bash-$((3*3))", "bash-9")) << person.shown;
  RunResult answer = scene.pendrel(
      {"exec", "--terminal", "web", "echo \"$KEPT in $(pwd)\"; echo err >&2; cd /; exit 3"});
  EXPECT_EQ(answer.exit_code, 3) << answer.out << answer.err;
  EXPECT_NE(answer.out.find(R"("stdout":"person in /tmp\nerr\n","stderr":"")"), std::string::npos)
      << answer.out;
  EXPECT_TRUE(person.wait_for("person in /tmp\r\nerr\r\n")) << person.shown;
  EXPECT_TRUE(person.runs("echo \"still in $(pwd)\"", "still in /tmp")) << person.shown;
  EXPECT_EQ(person.shown.find("typed-2"), std::string::npos);

  // pendrel killed: the person's service hears of it through the front and the broker, and
  // types Ctrl-C into the remote shell.
  pid_t caller =
      scene.spawn_pendrel({"exec", "--terminal", "web", "echo started-$((5*5)); sleep 30"});
  ASSERT_TRUE(person.wait_for("started-25")) << person.shown;
  ::kill(caller, SIGKILL);
  ::waitpid(caller, nullptr, 0);
  EXPECT_TRUE(person.wait_for("^C")) << person.shown;
  EXPECT_TRUE(person.runs("echo after-$((4*4))", "after-16")) << person.shown;
  std::string audit = scene.audit();
  EXPECT_NE(audit.find(R"("terminal":"s1","outcome":"ok","exitCode":3)"), std::string::npos)
      << audit;
  EXPECT_NE(audit.find(R"("terminal":"s1","outcome":"canceled")"), std::string::npos) << audit;
}

}  // namespace
}  // namespace pendrel::testing
