// The front end as a user or an agent meets it: version, unknown commands, usage errors,
// argument encoding and the standard descriptors.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/run_pendrel.h"
#include "support/temp_dir.h"

namespace pendrel::testing {
namespace {

struct Bilingual {
  std::string zh;
  std::string en;

  [[nodiscard]] const std::string& in(std::string_view language) const {
    return language == "en" ? en : zh;
  }
};

// An environment in which reaching for the desktop application would show: diagnostics on,
// a data directory without a socket, no program to start.
std::map<std::string, std::string> isolated_environment(const TempDir& home,
                                                        std::string_view language) {
  auto env = base_environment(home.path());
  env["PENDREL_LANG"] = std::string(language);
  env["PENDREL_LOG"] = "1";
  env["PENDREL_DATA_DIR"] = home / "data";
  env["PENDREL_APP"] = home / "no-such-app";
  return env;
}

std::string json_escaped(std::string_view text) {
  std::string escaped;
  for (char c : text) {
    if (c == '"' || c == '\\') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

// Runs `args` in both output modes and checks the usage report that each must give.
void expect_usage_error(const std::vector<std::string>& args, std::string_view language,
                        const std::string& message) {
  TempDir home;
  auto env = isolated_environment(home, language);
  std::string shown = ::testing::PrintToString(args) + " " + std::string(language);

  auto piped = run_pendrel({.args = args, .env = env, .stdout_mode = StdoutMode::pipe});
  EXPECT_EQ(piped.exit_code, 1) << shown;
  EXPECT_EQ(piped.out, "{\"error\":\"usage\",\"message\":\"" + json_escaped(message) + "\"}\n")
      << shown;
  EXPECT_EQ(piped.err, "") << shown;

  auto on_terminal = run_pendrel({.args = args, .env = env, .stdout_mode = StdoutMode::terminal});
  EXPECT_EQ(on_terminal.exit_code, 1) << shown;
  EXPECT_EQ(on_terminal.out, "") << shown;
  EXPECT_EQ(on_terminal.err, "pendrel: " + message + "\n") << shown;
}

TEST(Version, PrintsTheSameLineInBothModes) {
  TempDir home;
  const std::vector<std::vector<std::string>> invocations = {
      {"version"}, {"--version"}, {"-v"}, {"-V"}, {"version", "--json"}};
  for (const auto& args : invocations) {
    for (auto mode : {StdoutMode::pipe, StdoutMode::terminal}) {
      auto result =
          run_pendrel({.args = args, .env = base_environment(home.path()), .stdout_mode = mode});
      EXPECT_EQ(result.exit_code, 0) << args.front();
      EXPECT_EQ(result.out, "0.1.3\n") << args.front();
      EXPECT_EQ(result.err, "") << args.front();
    }
  }
}

Bilingual unknown_command(std::string_view name) {
  return {"未知命令: " + std::string(name) + "（运行 pendrel help 查看用法）",
          "unknown command: " + std::string(name) + " (run pendrel help for usage)"};
}

TEST(UnknownCommand, IsAUsageErrorInBothModesAndLanguages) {
  // Names are compared exactly: no case folding, no prefixes, nothing longer.
  for (std::string name : {"frob", "Help", "LS", "-x", "versionsxx", "", "exec2", "-H"}) {
    for (std::string_view language : {"en", "zh"}) {
      expect_usage_error({name, "ls"}, language, unknown_command(name).in(language));
    }
  }
}

TEST(UnknownCommand, InvalidUtf8IsEchoedAsReplacementCharacters) {
  for (std::string_view language : {"en", "zh"}) {
    expect_usage_error({"\xFF"
                        "frob\xC3"},
                       language, unknown_command("\uFFFDfrob\uFFFD").in(language));
  }
}

struct UsageCase {
  std::vector<std::string> args;
  const Bilingual* message;
};

const Bilingual ls_usage{"用法: pendrel ls [-q <关键词>]", "usage: pendrel ls [-q <keyword>]"};
const Bilingual exec_usage{
    "用法: pendrel exec [--terminal] <主机> \"<命令>\" 或 pendrel exec [--terminal] <主机> "
    "--stdin",
    "usage: pendrel exec [--terminal] <host> \"<command>\" or pendrel exec [--terminal] <host> "
    "--stdin"};
const Bilingual upload_usage{"用法: pendrel upload <主机> <本地文件> <远程路径>",
                             "usage: pendrel upload <host> <local-file> <remote-path>"};
const Bilingual download_usage{"用法: pendrel download <主机> <远程文件> <本地路径>",
                               "usage: pendrel download <host> <remote-file> <local-path>"};
const Bilingual skill_usage{
    "用法: pendrel skill 或 pendrel skill install [--agent claude|agents|workbuddy | --dir "
    "<目录>]",
    "usage: pendrel skill or pendrel skill install [--agent claude|agents|workbuddy | --dir "
    "<dir>]"};

TEST(UsageErrors, EveryWrongShapeIsReportedBeforeAnythingIsContacted) {
  const UsageCase cases[] = {
      {{"ls", "-q"}, &ls_usage},
      {{"ls", "extra"}, &ls_usage},
      {{"ls", "-q", "a", "b"}, &ls_usage},
      {{"ls", "a", "-q"}, &ls_usage},
      {{"exec"}, &exec_usage},
      {{"exec", "h"}, &exec_usage},
      {{"exec", "--terminal"}, &exec_usage},
      {{"exec", "--terminal", "h"}, &exec_usage},
      {{"exec", "h", "--terminal"}, &exec_usage},
      {{"exec", "h", "cmd", "--terminal"}, &exec_usage},
      {{"exec", "--terminal", "--terminal", "h", "cmd"}, &exec_usage},
      {{"exec", "h", "cmd", "more"}, &exec_usage},
      {{"upload", "h", "a"}, &upload_usage},
      {{"upload", "h", "a", "b", "c"}, &upload_usage},
      {{"upload"}, &upload_usage},
      {{"download", "h", "remote"}, &download_usage},
      {{"download", "h", "a", "b", "c"}, &download_usage},
      {{"skill", "list"}, &skill_usage},
  };
  for (const UsageCase& c : cases) {
    for (std::string_view language : {"en", "zh"}) {
      expect_usage_error(c.args, language, c.message->in(language));
    }
  }
}

TEST(LanguageChoice, FollowsTheEnvironmentOfTheProcess) {
  struct Case {
    std::map<std::string, std::string> variables;
    std::string_view language;
  };
  const Case cases[] = {
      {{}, "zh"},
      {{{"LANG", "C.UTF-8"}}, "zh"},
      {{{"LANG", "en_US.UTF-8"}}, "en"},
      {{{"LC_ALL", "zh_CN.UTF-8"}, {"LANG", "en_US.UTF-8"}}, "zh"},
      {{{"LANGUAGE", "en_GB:fr"}, {"LANG", "C"}}, "en"},
      {{{"PENDREL_LANG", " english "}, {"LC_ALL", "zh_CN.UTF-8"}}, "en"},
  };
  TempDir home;
  for (const Case& c : cases) {
    auto env = base_environment(home.path());
    env.erase("PENDREL_LANG");
    env.insert(c.variables.begin(), c.variables.end());
    auto result = run_pendrel({.args = {"frob"}, .env = env});
    EXPECT_EQ(result.out, "{\"error\":\"usage\",\"message\":\"" +
                              unknown_command("frob").in(c.language) + "\"}\n")
        << ::testing::PrintToString(c.variables);
  }
}

// Standard output on a pipe whose reader is already gone: every write fails with EPIPE.
struct BrokenPipeRun {
  int exit_code = -1;
  int signal = 0;
};

BrokenPipeRun run_into_broken_pipe(const std::vector<std::string>& args) {
  std::string program = pendrel_binary();
  std::vector<std::string> storage{program};
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& arg : storage)
    argv.push_back(arg.data());
  argv.push_back(nullptr);
  char lang[] = "PENDREL_LANG=en";
  char* envp[] = {lang, nullptr};

  int fds[2];
  EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);
  ::close(fds[0]);
  pid_t child = ::fork();
  if (child == 0) {
    // The child starts with SIGPIPE at its default action: the program must ignore it itself.
    ::signal(SIGPIPE, SIG_DFL);
    ::dup2(fds[1], 1);
    int null_fd = ::open("/dev/null", O_RDWR);
    ::dup2(null_fd, 0);
    ::dup2(null_fd, 2);
    ::execve(program.c_str(), argv.data(), envp);
    _exit(127);
  }
  ::close(fds[1]);
  int status = 0;
  ::waitpid(child, &status, 0);
  BrokenPipeRun run;
  if (WIFEXITED(status)) run.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
  return run;
}

TEST(WriteFailures, AreIgnoredAndKeepTheExitCode) {
  struct Case {
    std::vector<std::string> args;
    int exit_code;
  };
  const Case cases[] = {
      {{"help"}, 0}, {{"version"}, 0}, {{"skill"}, 0}, {{"frob"}, 1}, {{"ls", "x"}, 1}};
  for (const Case& c : cases) {
    BrokenPipeRun run = run_into_broken_pipe(c.args);
    EXPECT_EQ(run.signal, 0) << c.args.front();
    EXPECT_EQ(run.exit_code, c.exit_code) << c.args.front();
  }
}

// `pendrel help | head -n 1` as a shell runs it; pendrel's own status is kept in a file.
TEST(WriteFailures, HelpIntoHeadExitsZero) {
  TempDir home;
  auto env = base_environment(home.path());
  env["PENDREL_BIN"] = pendrel_binary();
  std::string status_file = home / "status";
  auto result =
      run_pendrel({.args = {"-c", "{ \"$PENDREL_BIN\" help; echo $? > \"$1\"; } | head -n 1", "sh",
                            status_file},
                   .env = env,
                   .program = "/bin/sh"});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out,
            "pendrel — run remote commands and transfer files via hosts saved in Pendrel\n");
  EXPECT_EQ(read_file(status_file), "0\n");
}

TEST(ClosedDescriptors, StandardOutputClosedStillEndsNormally) {
  TempDir home;
  struct Case {
    std::vector<std::string> args;
    int exit_code;
    std::string err;
  };
  const Case cases[] = {
      {{"version"}, 0, ""},
      {{"help"}, 0, ""},
      {{"frob"}, 1, ""},  // the JSON report went to the null device
  };
  for (const Case& c : cases) {
    auto result = run_pendrel(
        {.args = c.args, .env = base_environment(home.path()), .stdout_mode = StdoutMode::closed});
    EXPECT_EQ(result.signal, 0) << c.args.front();
    EXPECT_EQ(result.exit_code, c.exit_code) << c.args.front();
    EXPECT_EQ(result.err, c.err) << c.args.front();
  }
}

TEST(ClosedDescriptors, AnyStandardDescriptorMayBeClosed) {
  TempDir home;
  auto env = base_environment(home.path());
  env["PENDREL_BIN"] = pendrel_binary();
  struct Case {
    std::string redirections;
    std::string command;
    int exit_code;
    std::string out;
  };
  const Case cases[] = {
      {"0<&- 1>&- 2>&-", "version", 0, ""},
      {"0<&- 1>&- 2>&-", "frob", 1, ""},
      {"0<&- 2>&-", "version", 0, "0.1.3\n"},
      {"0<&- 2>&-", "frob", 1,
       "{\"error\":\"usage\",\"message\":\"unknown command: frob (run pendrel help for "
       "usage)\"}\n"},
      {"2>&-", "", 1, ""},  // the help would go to the closed standard error
      {"0<&-", "exec", 1,
       "{\"error\":\"usage\",\"message\":\"" + json_escaped(exec_usage.en) + "\"}\n"},
  };
  for (const Case& c : cases) {
    std::string script = "exec " + c.redirections + " \"$PENDREL_BIN\" " + c.command;
    auto result = run_pendrel({.args = {"-c", script}, .env = env, .program = "/bin/sh"});
    EXPECT_EQ(result.signal, 0) << script;
    EXPECT_EQ(result.exit_code, c.exit_code) << script;
    EXPECT_EQ(result.out, c.out) << script;
  }
}

}  // namespace
}  // namespace pendrel::testing
