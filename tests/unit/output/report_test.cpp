#include "output/report.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "protocol/unique_fd.h"

namespace pendrel::testing {

// Both streams of one report, read back from pipes after the sinks are flushed.
struct Captured {
  int result = -1;
  std::string out;
  std::string err;
};

namespace {

std::string drain(const UniqueFd& fd) {
  std::string text;
  char buffer[4096];
  ssize_t got = 0;
  while ((got = ::read(fd.get(), buffer, sizeof buffer)) > 0) {
    text.append(buffer, static_cast<std::size_t>(got));
  }
  return text;
}

template <typename Action>
Captured capture(bool json, Language language, Action action) {
  int out_pipe[2];
  int err_pipe[2];
  EXPECT_EQ(::pipe2(out_pipe, O_CLOEXEC), 0);
  EXPECT_EQ(::pipe2(err_pipe, O_CLOEXEC), 0);
  UniqueFd out_read(out_pipe[0]);
  UniqueFd out_write(out_pipe[1]);
  UniqueFd err_read(err_pipe[0]);
  UniqueFd err_write(err_pipe[1]);
  Captured captured;
  {
    LineBufferedSink out(out_write.get());
    UnbufferedSink err(err_write.get());
    Output output{out, err, json, language};
    captured.result = action(output);
    out.flush();
  }
  out_write.reset();  // the reader sees end of stream once every write end is closed
  err_write.reset();
  captured.out = drain(out_read);
  captured.err = drain(err_read);
  return captured;
}

Captured report(bool json, Language language, int exit_code, std::string_view code,
                std::string_view detail) {
  return capture(json, language,
                 [&](Output& output) { return report_error(output, exit_code, code, detail); });
}

constexpr bool json_mode = true;
constexpr bool text_mode = false;

struct ReportCase {
  const char* name;
  Language language;
  std::string_view code;
  std::string_view detail;
  std::string_view json_line;  // on standard output in JSON mode
  std::string_view text_line;  // on standard error in text mode
};

class ReportError : public ::testing::TestWithParam<ReportCase> {};

TEST_P(ReportError, WritesOneLineToOneStream) {
  const ReportCase& c = GetParam();
  Captured as_json = report(json_mode, c.language, 3, c.code, c.detail);
  EXPECT_EQ(as_json.result, 3);
  EXPECT_EQ(as_json.out, c.json_line);
  EXPECT_EQ(as_json.err, "");

  Captured as_text = report(text_mode, c.language, 3, c.code, c.detail);
  EXPECT_EQ(as_text.result, 3);
  EXPECT_EQ(as_text.out, "");
  EXPECT_EQ(as_text.err, c.text_line);
}

const ReportCase report_cases[] = {
    {"UsageShowsItsDetailAlone", Language::en, "usage", "usage: pendrel ls [-q <keyword>]",
     "{\"error\":\"usage\",\"message\":\"usage: pendrel ls [-q <keyword>]\"}\n",
     "pendrel: usage: pendrel ls [-q <keyword>]\n"},
    {"UsageInChinese", Language::zh, "usage", "用法: pendrel ls [-q <关键词>]",
     "{\"error\":\"usage\",\"message\":\"用法: pendrel ls [-q <关键词>]\"}\n",
     "pendrel: 用法: pendrel ls [-q <关键词>]\n"},
    {"KnownCodeWithDetail", Language::en, "host_not_found", "no host named web",
     "{\"error\":\"host_not_found\",\"message\":\"no host named web\"}\n",
     "pendrel: host not found; run pendrel ls to see available hosts: no host named web\n"},
    {"KnownCodeWithoutDetail", Language::en, "host_not_found", "",
     "{\"error\":\"host_not_found\",\"message\":\"host not found; run pendrel ls to see available "
     "hosts\"}\n",
     "pendrel: host not found; run pendrel ls to see available hosts\n"},
    {"KnownCodeWithoutDetailInChinese", Language::zh, "vault_locked", "",
     "{\"error\":\"vault_locked\",\"message\":\"Pendrel 的凭据已锁定，请先在 Pendrel "
     "中输入主密码\"}\n",
     "pendrel: Pendrel 的凭据已锁定，请先在 Pendrel 中输入主密码\n"},
    {"TableTextWithQuotesIsEscaped", Language::en, "algorithm_mismatch", "",
     "{\"error\":\"algorithm_mismatch\",\"message\":\"no common encryption algorithm with the "
     "server; enable \\\"Legacy devices\\\" for the host in Pendrel\"}\n",
     "pendrel: no common encryption algorithm with the server; enable \"Legacy devices\" for the "
     "host in Pendrel\n"},
    {"UnknownCodeWithoutDetail", Language::en, "quota_exceeded", "",
     "{\"error\":\"quota_exceeded\",\"message\":\"\"}\n", "pendrel: quota_exceeded\n"},
    {"UnknownCodeWithDetail", Language::zh, "quota_exceeded", "配额已满",
     "{\"error\":\"quota_exceeded\",\"message\":\"配额已满\"}\n",
     "pendrel: quota_exceeded: 配额已满\n"},
    {"CodesAreCaseSensitive", Language::en, "Host_Not_Found", "",
     "{\"error\":\"Host_Not_Found\",\"message\":\"\"}\n", "pendrel: Host_Not_Found\n"},
    {"SkillInstallFailedHasItsOwnText", Language::zh, "skill_install_failed",
     "Permission denied (os error 13)",
     "{\"error\":\"skill_install_failed\",\"message\":\"Permission denied (os error 13)\"}\n",
     "pendrel: 安装技能文件失败: Permission denied (os error 13)\n"},
    {"SkillInstallFailedWithoutDetail", Language::en, "skill_install_failed", "",
     "{\"error\":\"skill_install_failed\",\"message\":\"failed to install the skill file\"}\n",
     "pendrel: failed to install the skill file\n"},
    {"LocalConnectFailure", Language::en, "connect_failed", "failed to connect to Pendrel: x",
     "{\"error\":\"connect_failed\",\"message\":\"failed to connect to Pendrel: x\"}\n",
     "pendrel: connection or execution failed: failed to connect to Pendrel: x\n"},
    {"SpecialCharactersEscapedOnlyInJson", Language::en, "usage", "say \"hi\"\\\nnext\tline",
     "{\"error\":\"usage\",\"message\":\"say \\\"hi\\\"\\\\\\nnext\\tline\"}\n",
     "pendrel: say \"hi\"\\\nnext\tline\n"},
    {"UsageWithoutDetailShowsTheCode", Language::en, "usage", "",
     "{\"error\":\"usage\",\"message\":\"\"}\n", "pendrel: usage\n"},
};

INSTANTIATE_TEST_SUITE_P(Cases, ReportError, ::testing::ValuesIn(report_cases),
                         [](const auto& test) { return std::string(test.param.name); });

TEST(ReportError, ReturnsTheExitCodeItWasGiven) {
  for (int exit_code : {0, 1, 5, 7, 255}) {
    EXPECT_EQ(report(json_mode, Language::en, exit_code, "internal", "").result, exit_code);
    EXPECT_EQ(report(text_mode, Language::en, exit_code, "internal", "").result, exit_code);
  }
}

TEST(ReportError, WriteFailuresAreIgnored) {
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
  ::close(fds[0]);  // a reader that went away: writes fail with EPIPE (SIGPIPE is ignored below)
  auto previous = ::signal(SIGPIPE, SIG_IGN);
  LineBufferedSink out(fds[1]);
  UnbufferedSink err(fds[1]);
  Output output{out, err, json_mode, Language::en};
  EXPECT_EQ(report_error(output, 6, "app_locked", ""), 6);
  output.json = text_mode;
  EXPECT_EQ(report_error(output, 6, "app_locked", ""), 6);
  out.flush();
  ::signal(SIGPIPE, previous);
  ::close(fds[1]);
}

TEST(FailureFromErrorBody, KeepsCodeAndMessageAndMapsTheExitCode) {
  struct Case {
    ErrorBody body;
    int exit_code;
  };
  const Case cases[] = {
      {{"host_not_found", "no host web"}, 2},
      {{"path_not_found", "/srv/x"}, 5},  // from the application, unlike a local missing file
      {{"command_denied", ""}, 4},
      {{"brand_new_code", "later"}, 5},
  };
  for (const Case& c : cases) {
    CliFailure failure = failure_from_error_body(c.body);
    EXPECT_EQ(failure.code, c.body.code);
    EXPECT_EQ(failure.message, c.body.message);
    EXPECT_EQ(failure.exit_code, c.exit_code) << c.body.code;
  }
}

TEST(ReportFailure, PassesCodeMessageAndExitCode) {
  CliFailure failure{"path_not_found", "/home/u/missing.txt", 1};
  Captured captured = capture(text_mode, Language::en,
                              [&](Output& output) { return report_failure(output, failure); });
  EXPECT_EQ(captured.result, 1);
  EXPECT_EQ(captured.err, "pendrel: path not found: /home/u/missing.txt\n");
}

TEST(ReportUnexpectedAnswer, IsInternalWithTheDebugRendering) {
  Response answer = OkAnswer{};
  Captured captured = capture(json_mode, Language::en, [&](Output& output) {
    return report_unexpected_answer(output, answer);
  });
  EXPECT_EQ(captured.result, 5);
  std::string expected_message = "unexpected answer from Pendrel: " + debug_render(answer);
  EXPECT_EQ(captured.out, "{\"error\":\"internal\",\"message\":\"" + expected_message + "\"}\n");
}

}  // namespace
}  // namespace pendrel::testing
