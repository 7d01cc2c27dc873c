// Running commands on a real sshd: streams apart, exit codes and signals, the output limit,
// and stopping a command whose caller went away or that ran too long.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <thread>

#include "desktop/broker/ssh/remote_exec.h"
#include "protocol/unique_fd.h"
#include "ssh_test_host.h"
#include "support/temp_dir.h"

namespace pendrel::desktop::testing {
namespace {

struct ExecCase {
  std::string command;
  int exit_code;
  std::string stdout_text;
  std::string stderr_text;
  bool truncated = false;
};

// 300 KB of no-op lines, then `last`.
std::string long_script(std::string_view last) {
  std::string script;
  for (int line = 0; line < 150'000; ++line)
    script += ":\n";
  return script + std::string(last);
}

TEST(SshExec, StreamsExitCodesAndTheOutputLimit) {
  SKIP_WITHOUT_SSHD();
  SshdFixture server;
  const TestCredentials login = key_login(server);
  const std::string a_mebibyte(remote_stream_limit, 'a');
  const std::vector<ExecCase> cases{
      {"echo out; echo err >&2; exit 3", 3, "out\n", "err\n"},
      {"tty; true", 0, "not a tty\n", ""},
      {"kill -9 $$", 128 + SIGKILL, "", ""},
      {"printf 'ok\\377\\n'", 0, "ok\xEF\xBF\xBD\n", ""},
      {"head -c 2097152 /dev/zero | tr '\\0' a; head -c 3000000 /dev/zero >&2", 0, a_mebibyte,
       std::string(remote_stream_limit, '\0'), true},
      // Far longer than one argument of the server's shell may be: it reads it from the
      // channel, and the text's own commands find their standard input empty.
      {long_script("readlink /proc/self/fd/0; echo done >&2; exit 3"), 3, "/dev/null\n", "done\n"},
  };
  for (const ExecCase& expected : cases) {
    SCOPED_TRACE(expected.command.substr(expected.command.find_last_of(':') + 1));
    auto result =
        ssh_exec(target_of(server), login.view(), trusting(server), expected.command, no_cancel);
    ASSERT_TRUE(result.has_value()) << result.error().code << ": " << result.error().message;
    EXPECT_EQ(result->exit_code, expected.exit_code);
    EXPECT_EQ(result->stdout_text, expected.stdout_text);
    EXPECT_EQ(result->stderr_text, expected.stderr_text);
    EXPECT_EQ(result->truncated, expected.truncated);
  }
}

bool process_exists(pid_t pid) {
  return ::kill(pid, 0) == 0 || errno != ESRCH;
}

// The command writes its pid (the shell replaced by sleep) and would sleep for a minute.
std::string pid_writing_sleep(const std::string& pid_file) {
  return "echo $$ > " + pid_file + ".tmp && mv " + pid_file + ".tmp " + pid_file +
         " && exec sleep 60";
}

pid_t wait_for_pid(const std::string& pid_file) {
  for (int tries = 0; tries < 1000 && !std::filesystem::exists(pid_file); ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return static_cast<pid_t>(std::stol(pendrel::testing::read_file(pid_file)));
}

TEST(SshExec, StopsTheRemoteCommandWhenTheCallerGoesAwayOrTimeRunsOut) {
  SKIP_WITHOUT_SSHD();
  SshdFixture server;
  const TestCredentials login = key_login(server);

  // The caller's connection is a pipe; closing its write end is the caller going away.
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  UniqueFd caller_read(ends[0]);
  UniqueFd caller_write(ends[1]);
  const std::string pid_file = server.files_dir() + "/caller.pid";
  std::thread caller([&] {
    (void)wait_for_pid(pid_file);
    caller_write.reset();
  });
  CancelWatch cancel{{caller_read.get()}};
  auto canceled = ssh_exec(target_of(server), login.view(), trusting(server),
                           pid_writing_sleep(pid_file), cancel);
  caller.join();
  ASSERT_FALSE(canceled.has_value());
  EXPECT_EQ(canceled.error().code, "canceled");
  EXPECT_NE(canceled.error().message.find("caller went away"), std::string::npos);
  EXPECT_FALSE(process_exists(wait_for_pid(pid_file)));

  SshTarget limited = target_of(server);
  limited.max_duration = std::chrono::seconds(1);
  const std::string limited_pid_file = server.files_dir() + "/limited.pid";
  auto ended = ssh_exec(limited, login.view(), trusting(server),
                        pid_writing_sleep(limited_pid_file), no_cancel);
  ASSERT_FALSE(ended.has_value());
  EXPECT_EQ(ended.error().code, "canceled");
  EXPECT_NE(ended.error().message.find("limit of 1 s"), std::string::npos);
  EXPECT_FALSE(process_exists(wait_for_pid(limited_pid_file)));
}

}  // namespace
}  // namespace pendrel::desktop::testing
