// An agent's command typed into a terminal of the registry, with real shells in ptys behind it:
// which terminal, what the answer holds, when nothing is typed, and every way it ends.
#include "desktop/shared/terminal/terminal_exec.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <future>
#include <thread>

#include "desktop/shared/terminal/terminal_frames.h"
#include "shell_in_pty.h"
#include "support/temp_dir.h"

namespace pendrel::desktop {
namespace {

using namespace std::chrono_literals;

enum class Sight { local, remote };  // whether the shell's process groups can be seen

// A shell in a pty, as a LOCAL terminal holds one; seen as from over SSH when `remote`.
class PtyShell : public TerminalBackend {
 public:
  PtyShell(std::vector<std::string> argv, const std::string& directory, Sight sight)
      : sight_(sight) {
    auto started = start_shell_in_pty(argv, directory);
    pid_ = started.pid;
    master_.reset(started.master);
  }
  ~PtyShell() override {
    ::kill(pid_, SIGKILL);
    if (!reaped_) ::waitpid(pid_, nullptr, 0);
  }

  int descriptor() const override { return master_.get(); }
  void resize(WindowSize size) override {
    winsize value{size.rows, size.columns, 0, 0};
    ::ioctl(master_.get(), TIOCSWINSZ, &value);
  }
  std::optional<bool> shell_in_foreground() const override {
    if (sight_ == Sight::remote) return std::nullopt;
    return ::tcgetpgrp(master_.get()) == pid_;
  }
  ShellEnding ending() override {
    int status = 0;
    if (!reaped_ && ::waitpid(pid_, &status, 0) == pid_) reaped_ = true;
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), ""};
  }
  void hang_up() override { ::kill(pid_, SIGKILL); }

 private:
  Sight sight_;
  pid_t pid_ = -1;
  UniqueFd master_;
  bool reaped_ = false;
};

const std::vector<std::string> bash = {"bash", "--norc", "--noprofile", "-i"};
const std::vector<std::string> dash = {"sh", "-i"};

// A person's client attached to a terminal: what the terminal shows them, and their keys.
class Client {
 public:
  explicit Client(Terminal& terminal) {
    int ends[2];
    ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends);
    mine_.reset(ends[0]);
    terminal.attach(UniqueFd(ends[1]), WindowSize{24, 80}, ::getpid());
  }
  void type(std::string_view keys) {
    (void)::send(mine_.get(), terminal_frame(TerminalFrameKind::data, keys).data(),
                 terminal_frame(TerminalFrameKind::data, keys).size(), MSG_NOSIGNAL);
  }
  // Everything shown so far.
  const std::string& screen() {
    char chunk[65536];
    for (;;) {
      const ssize_t got = ::recv(mine_.get(), chunk, sizeof chunk, MSG_DONTWAIT);
      if (got <= 0) break;
      reader_.feed(std::string_view(chunk, static_cast<std::size_t>(got)));
      while (auto frame = reader_.next())
        if (frame->kind == TerminalFrameKind::data) screen_ += frame->body;
    }
    return screen_;
  }

 private:
  UniqueFd mine_;
  TerminalFrameReader reader_;
  std::string screen_;
};

// Waits (a bounded while) until `ready` holds.
bool eventually(const std::function<bool()>& ready) {
  for (auto deadline = std::chrono::steady_clock::now() + 20s;
       std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(20ms))
    if (ready()) return true;
  return false;
}

// The caller's connection, which the test hangs up as a killed pendrel would, and the stop.
struct Caller {
  Caller() {
    int ends[2];
    ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends);
    service_side.reset(ends[0]);
    pendrel_side.reset(ends[1]);
  }
  TerminalExecWatch watch() const { return {service_side.get(), stop.get()}; }
  UniqueFd service_side;
  UniqueFd pendrel_side;
  UniqueFd stop{::eventfd(0, EFD_CLOEXEC)};
};

class TerminalExec : public ::testing::Test {
 protected:
  std::shared_ptr<Terminal> open(std::string host, const std::vector<std::string>& argv,
                                 Sight sight = Sight::local) {
    return registry.open(host, host + "-name",
                         std::make_unique<PtyShell>(argv, directory.path(), sight),
                         WindowSize{24, 80});
  }
  static bool at_prompt(Terminal& terminal) {
    return terminal.scanner_state().bracketed_paste &&
           terminal.shell_in_foreground().value_or(true);
  }
  TerminalExecOutcome run(std::string_view host, std::string_view command,
                          const Caller& caller = Caller()) {
    return exec_in_terminal(registry, host, std::string(host) + "-name", command, caller.watch());
  }

  testing::TempDir directory;
  TerminalRegistry registry{"t", nullptr};
};

TEST_F(TerminalExec, RunsInTheNewestAttachedTerminalOfTheHostAndLeavesItAsItWas) {
  auto older = open("web", bash);
  auto newer = open("web", bash);
  auto unattached = open("db", bash);
  Client older_client(*older);
  Client person(*newer);
  ASSERT_TRUE(eventually([&] { return at_prompt(*newer) && at_prompt(*older); }));

  auto first = run("web", "echo out; echo err >&2; exit 3");
  ASSERT_TRUE(first.result.has_value()) << first.result.error().message;
  EXPECT_EQ(first.terminal_id, newer->info().id);
  EXPECT_EQ(first.result->exit_code, 3);
  EXPECT_EQ(first.result->stdout_text, "out\nerr\n");
  EXPECT_EQ(first.result->stderr_text, "");
  EXPECT_FALSE(first.result->truncated);
  // The person saw the line typed and the command's output.
  EXPECT_TRUE(eventually([&] {
    const std::string& screen = person.screen();
    const auto line = screen.find("echo out; echo err");
    return line != std::string::npos && screen.find("out\r\nerr\r\n", line) != std::string::npos;
  }));
  EXPECT_EQ(older_client.screen().find("echo out"), std::string::npos);

  const struct {
    std::string command;
    std::string output;
  } steps[] = {
      {"pwd; echo $KEPT", directory.path() + "\ninherited\n"},
      {"cd /; export KEPT=changed; pwd; echo $KEPT", "/\nchanged\n"},
      {"pwd; echo $KEPT", directory.path() + "\ninherited\n"},
  };
  for (const auto& step : steps) {
    auto answer = run("web", step.command);
    ASSERT_TRUE(answer.result.has_value()) << step.command << ": " << answer.result.error().message;
    EXPECT_EQ(answer.result->stdout_text, step.output) << step.command;
    EXPECT_EQ(answer.result->exit_code, 0) << step.command;
  }

  auto none_open = run("mail", "true");
  ASSERT_FALSE(none_open.result.has_value());
  EXPECT_EQ(none_open.result.error().code, "terminal_not_open");
  EXPECT_NE(none_open.result.error().message.find("no terminal of mail-name is open"),
            std::string::npos);
  auto none_attached = run("db", "true");
  ASSERT_FALSE(none_attached.result.has_value());
  EXPECT_EQ(none_attached.result.error().code, "terminal_not_open");
  EXPECT_NE(none_attached.result.error().message.find(unattached->info().id), std::string::npos);
  auto nul = run("web", std::string("echo a\0b", 8));
  ASSERT_FALSE(nul.result.has_value());
  EXPECT_EQ(nul.result.error().code, "bad_request");
}

TEST_F(TerminalExec, TypesNothingWithoutEvidenceOfAWaitingPrompt) {
  auto local = open("web", bash);
  Client person(*local);
  auto remote_dash = open("db", dash, Sight::remote);
  Client other(*remote_dash);
  ASSERT_TRUE(eventually([&] { return at_prompt(*local); }));

  auto expect_busy = [&](std::string_view host, std::string_view why) {
    auto answer = run(host, "echo typed");
    ASSERT_FALSE(answer.result.has_value()) << why;
    EXPECT_EQ(answer.result.error().code, "terminal_busy") << why;
    EXPECT_NE(answer.result.error().message.find(why), std::string::npos)
        << answer.result.error().message;
  };
  person.type("sleep 30\r");
  ASSERT_TRUE(eventually([&] { return local->shell_in_foreground() == false; }));
  expect_busy("web", "a program runs in it");
  person.type("\x03");
  ASSERT_TRUE(eventually([&] { return at_prompt(*local); }));

  person.type("printf '\\033[?1049h'; sleep 30\r");
  ASSERT_TRUE(eventually([&] { return local->scanner_state().alternate_screen; }));
  expect_busy("web", "a full-screen program is open in it");
  person.type("\x03");
  ASSERT_TRUE(eventually([&] { return at_prompt(*local); }));
  person.type("printf '\\033[?1049l'\r");
  ASSERT_TRUE(
      eventually([&] { return at_prompt(*local) && !local->scanner_state().alternate_screen; }));

  person.type("ech");
  ASSERT_TRUE(eventually([&] { return local->person_mid_line(); }));
  expect_busy("web", "the person has typed part of a line");

  // Over SSH a shell without bracketed paste or prompt marks gives no sign at all.
  expect_busy("db", "no sign of waiting at its prompt");
  EXPECT_EQ(person.screen().find("echo typed"), std::string::npos);
  EXPECT_EQ(other.screen().find("echo typed"), std::string::npos);
}

TEST_F(TerminalExec, EndsWithThePersonsCtrlCTheCallerTheTerminalAndTheService) {
  auto bash_terminal = open("web", bash);
  Client person(*bash_terminal);
  auto dash_terminal = open("db", dash);
  Client dash_person(*dash_terminal);
  ASSERT_TRUE(eventually([&] { return at_prompt(*bash_terminal); }));
  ASSERT_TRUE(eventually([&] { return dash_terminal->shell_in_foreground() == true; }));

  // Runs `command` and, once the person sees `shown` with the command running, does `act`.
  auto interrupted = [&](std::string host, Terminal& terminal, Client& client,
                         const std::string& command, std::string_view shown,
                         const std::function<void()>& act, const Caller& caller = Caller()) {
    auto running = std::async(std::launch::async, [&] { return run(host, command, caller); });
    EXPECT_TRUE(eventually([&] {
      return terminal.shell_in_foreground() == false &&
             client.screen().find(shown) != std::string::npos;
    }));
    act();
    return running.get();
  };
  for (auto* terminal : {bash_terminal.get(), dash_terminal.get()}) {
    const bool is_bash = terminal == bash_terminal.get();
    const std::string host = is_bash ? "web" : "db";
    auto answer =
        interrupted(host, *terminal, is_bash ? person : dash_person, "echo partial; sleep 30",
                    "partial\r\n", [&] { terminal->write_input("\x03"); });
    ASSERT_TRUE(answer.result.has_value()) << host << ": " << answer.result.error().message;
    EXPECT_EQ(answer.result->exit_code, 130) << host;
    EXPECT_NE(answer.result->stdout_text.find("partial\n"), std::string::npos) << host;
  }

  Caller killed;
  auto canceled = interrupted(
      "web", *bash_terminal, person, "sleep 30", "", [&] { killed.pendrel_side.reset(); }, killed);
  ASSERT_FALSE(canceled.result.has_value());
  EXPECT_EQ(canceled.result.error().code, "canceled");
  // The Ctrl-C typed for the caller ended the command: the shell is back at its prompt.
  EXPECT_TRUE(eventually([&] { return at_prompt(*bash_terminal); }));

  Caller stopping;
  auto stopped = interrupted(
      "web", *bash_terminal, person, "sleep 30", "",
      [&] {
        std::uint64_t one = 1;
        (void)::write(stopping.stop.get(), &one, sizeof one);
      },
      stopping);
  ASSERT_FALSE(stopped.result.has_value());
  EXPECT_EQ(stopped.result.error().code, "canceled");
  bash_terminal->write_input("\x03");

  auto closed = interrupted("db", *dash_terminal, dash_person, "sleep 30", "",
                            [&] { dash_terminal->hang_up("closed by the person"); });
  ASSERT_FALSE(closed.result.has_value());
  EXPECT_EQ(closed.result.error().code, "connect_failed");
  EXPECT_NE(closed.result.error().message.find("closed"), std::string::npos);
}

}  // namespace
}  // namespace pendrel::desktop
