// What is typed for an agent's command, run through real interactive shells in a pty: the
// command gets exactly its bytes, however they are made, and leaves the shell as it was.
#include "desktop/shared/terminal/typed_command.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "desktop/shared/terminal/captured_output.h"
#include "protocol/fd_io.h"
#include "protocol/unique_fd.h"
#include "shell_in_pty.h"
#include "support/temp_dir.h"

namespace pendrel::desktop {
namespace {

TEST(TypedCommand, TypesOnlyPrintableLinesThatFitAndStartWithASpace) {
  const std::string script_100k = [] {
    std::string text;
    while (text.size() < 100'000)
      text += "echo 'x' \"$y\" \\ \x01 \xE4\xB8\x96\n";
    return text;
  }();
  for (BracketedPaste paste : {BracketedPaste::off, BracketedPaste::on}) {
    for (const std::string& command :
         {std::string("ls -la"), std::string("echo 'it''s' \xC3\xA9\n"), script_100k}) {
      const TypedCommand typed = type_command(command, fresh_nonce(), paste);
      ASSERT_FALSE(typed.lines.empty());
      for (const std::string& line : typed.lines) {
        EXPECT_LE(line.size(), max_typed_line_bytes);
        std::string_view body = line;
        if (paste == BracketedPaste::on) {
          ASSERT_TRUE(body.starts_with("\x1b[200~"));
          ASSERT_TRUE(body.ends_with("\x1b[201~\r"));
          body = body.substr(6, body.size() - 6 - 7);
        } else {
          ASSERT_TRUE(body.ends_with("\r"));
          body.remove_suffix(1);
        }
        EXPECT_TRUE(body.starts_with(" "));
        for (char c : body)
          EXPECT_TRUE(c >= 0x20 && c <= 0x7e) << int(c);
      }
    }
  }
  EXPECT_EQ(type_command("true", "n", BracketedPaste::off).lines.size(), 1u);
  EXPECT_GT(type_command(script_100k, "n", BracketedPaste::off).lines.size(), 100u);

  const std::string nonce = fresh_nonce();
  EXPECT_EQ(nonce.size(), 32u);
  EXPECT_EQ(nonce.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_NE(nonce, fresh_nonce());
}

// An interactive shell on a pty, as a person's terminal holds it, driven by typed lines.
class ShellInPty {
 public:
  ShellInPty(const std::vector<std::string>& argv, const std::string& directory) {
    auto started = start_shell_in_pty(argv, directory);
    pid_ = started.pid;
    master_.reset(started.master);
  }
  ~ShellInPty() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  [[nodiscard]] bool started() const { return pid_ > 0 && master_.get() >= 0; }

  // Reads until `text` has been shown; whether it was before the deadline.
  bool read_until(std::string_view text) {
    while (screen_.find(text) == std::string::npos) {
      if (!read_some()) return false;
    }
    return true;
  }

  // Types the command's lines and reads its answer; nullopt on a shell that stopped answering.
  // Writing and reading interleave: a shell busy echoing a long script stops reading its input
  // until its output is read.
  std::optional<CapturedAnswer> run(std::string_view command, BracketedPaste paste) {
    const TypedCommand typed = type_command(command, fresh_nonce(), paste);
    CapturedOutput captured(typed.nonce);
    std::string input;
    for (const std::string& line : typed.lines)
      input += line;
    std::size_t written = 0;
    while (captured.stage() != CapturedOutput::Stage::finished) {
      pollfd ready{master_.get(),
                   static_cast<short>(POLLIN | (written < input.size() ? POLLOUT : 0)), 0};
      if (::poll(&ready, 1, 30'000) <= 0) return std::nullopt;
      if (ready.revents & POLLOUT) {
        const ssize_t sent = ::write(master_.get(), input.data() + written,
                                     std::min<std::size_t>(input.size() - written, 4096));
        if (sent < 0 && errno != EAGAIN) return std::nullopt;
        if (sent > 0) written += static_cast<std::size_t>(sent);
      }
      if (ready.revents & (POLLIN | POLLHUP)) {
        if (!read_some()) return std::nullopt;
        captured.feed(take_screen());
      }
    }
    return captured.answer();
  }

 private:
  bool read_some() {
    pollfd ready{master_.get(), POLLIN, 0};
    if (::poll(&ready, 1, 30'000) <= 0) return false;
    char chunk[65536];
    const ssize_t got = ::read(master_.get(), chunk, sizeof chunk);
    if (got <= 0) return false;
    screen_.append(chunk, static_cast<std::size_t>(got));
    return true;
  }
  std::string take_screen() { return std::exchange(screen_, {}); }

  pid_t pid_ = -1;
  UniqueFd master_;
  std::string screen_;
};

// `text` as a shell word, quoted by the test itself: the command then prints `text` back.
std::string printing(std::string_view text) {
  std::string quoted = "x='";
  for (char c : text) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  return quoted + "'; printf %s \"$x\"";
}

struct Shell {
  std::string name;
  std::vector<std::string> argv;
  BracketedPaste paste;
};

class TypedIntoAShell : public ::testing::TestWithParam<Shell> {};

TEST_P(TypedIntoAShell, RunsExactlyTheCommandInAChildShell) {
  const testing::TempDir temp;
  const std::string& directory = temp.path();
  ShellInPty shell(GetParam().argv, directory);
  ASSERT_TRUE(shell.started());
  ASSERT_TRUE(shell.read_until("pd$ "));
  const BracketedPaste paste = GetParam().paste;

  const std::string script_100k = [] {
    std::string text = "# a script of 100 KB\n";
    for (int i = 0; text.size() < 100'000; ++i)
      text += "line " + std::to_string(i) + " 'q' \"d\" $v `b` \\ % \t \xE4\xB8\x96\n";
    return text;
  }();
  const struct {
    std::string name;
    std::string text;
  } payloads[] = {
      {"plain", "hello world"},
      {"quotes", "it's \"quoted\" ''"},
      {"expansions", "$HOME ${x} $(id) `id` $? !! !$ ~ * ?"},
      {"backslashes and percent", "\\ \\\\ \\n \\033 %d %s %% \\'"},
      {"newlines, trailing ones kept", "one\ntwo\n\n"},
      {"control characters", "\x01\x03\x04\x08\t\x0b\x0c\x0e\x15\x17\x1a\x1c\x7f!"},
      {"UTF-8", "h\xC3\xA9llo \xE4\xB8\x96\xE7\x95\x8C \xF0\x9F\x98\x80"},
      {"a leading minus", "-n -e"},
      {"20 KB, in pieces", script_100k.substr(0, 20'000)},
      {"100 KB, longer than an argument may be", script_100k},
  };
  for (const auto& payload : payloads) {
    auto answer = shell.run(printing(payload.text), paste);
    ASSERT_TRUE(answer.has_value()) << payload.name;
    EXPECT_EQ(answer->exit_code, 0) << payload.name;
    EXPECT_FALSE(answer->interrupted) << payload.name;
    EXPECT_TRUE(answer->output.text == payload.text)
        << payload.name << ": " << answer->output.text.size() << " bytes, not "
        << payload.text.size();
  }

  const struct {
    std::string name;
    std::string command;
    std::string output;
    int exit_code;
  } commands[] = {
      {"a command that starts like an option", "-c", "", 127},
      {"the exit status", "exit 3", "", 3},
      {"standard error merged", "echo out; echo err >&2", "out\nerr\n", 0},
      {"standard input empty, output a pipe", "cat; test -t 1 || echo pipe", "pipe\n", 0},
      {"inherits the directory and the environment", "pwd; echo $KEPT", directory + "\ninherited\n",
       0},
      {"changes its own directory and environment", "cd /; export KEPT=changed; pwd; echo $KEPT",
       "/\nchanged\n", 0},
      {"which the terminal's shell does not see", "pwd; echo $KEPT", directory + "\ninherited\n",
       0},
  };
  for (const auto& c : commands) {
    auto answer = shell.run(c.command, paste);
    ASSERT_TRUE(answer.has_value()) << c.name;
    if (c.exit_code != 127) {
      EXPECT_EQ(answer->output.text, c.output) << c.name;
    }
    EXPECT_EQ(answer->exit_code, c.exit_code) << c.name;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Shells, TypedIntoAShell,
    ::testing::Values(
        Shell{"sh", {"sh", "-i"}, BracketedPaste::off},
        Shell{"bash", {"bash", "--norc", "--noprofile", "-i"}, BracketedPaste::on},
        Shell{"bash_typed", {"bash", "--norc", "--noprofile", "-i"}, BracketedPaste::off}),
    [](const ::testing::TestParamInfo<Shell>& shell) { return shell.param.name; });

}  // namespace
}  // namespace pendrel::desktop
