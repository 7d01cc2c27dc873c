#include <gtest/gtest.h>

#include "remote_session.h"

namespace pendrel::testing {
namespace {

std::string exec_answer(std::string_view exit_code, std::string_view out, std::string_view err,
                        bool truncated) {
  return std::string(R"({"type":"exec","data":{"exitCode":)") + std::string(exit_code) +
         R"(,"stdout":)" + std::string(out) + R"(,"stderr":)" + std::string(err) +
         R"(,"truncated":)" + (truncated ? "true" : "false") + R"(,"durationMs":182}})";
}

const std::string plain_answer = exec_answer("0", R"("ok\n")", R"("")", false);

TEST(Exec, JsonResultAndRequestWithCallers) {
  RemoteSession session;
  FakePeer peer(session.data_dir(),
                {answer_with(exec_answer("3", R"("a\"b\n")", R"("warn\t中")", false))});
  auto result = session.run({"exec", "web-1", "  uptime  "}, StdoutMode::pipe);
  EXPECT_EQ(result.exit_code, 3);
  EXPECT_EQ(result.out, R"({"exitCode":3,"stdout":"a\"b\n","stderr":"warn\t中","truncated":false,)"
                        R"("durationMs":182})"
                        "\n");
  EXPECT_EQ(result.err, "");
  ASSERT_FALSE(expected_callers().empty());  // pendrel's parent is this test process
  EXPECT_EQ(request_of(peer), R"({"type":"exec","data":{"host":"web-1","command":"  uptime  ")" +
                                  caller_member(expected_callers()) + "}}");
}

TEST(Exec, TerminalFlagIsSent) {
  for (std::vector<std::string> args : {std::vector<std::string>{"exec", "--terminal", "h", "ls"},
                                        {"exec", "h", "--terminal", "ls"}}) {
    RemoteSession session;
    FakePeer peer(session.data_dir(), {answer_with(plain_answer)});
    auto result = session.run(args, StdoutMode::pipe);
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(request_of(peer),
              R"({"type":"exec","data":{"host":"h","command":"ls","terminal":true)" +
                  caller_member(expected_callers()) + "}}");
  }
}

TEST(Exec, RemoteExitCodeKeepsItsLowEightBits) {
  const std::pair<std::string, int> cases[] = {{"3", 3}, {"256", 0}, {"-1", 255}};
  for (const auto& [remote, seen] : cases) {
    RemoteSession session;
    FakePeer peer(session.data_dir(), {answer_with(exec_answer(remote, R"("")", R"("")", false))});
    auto json = session.run({"exec", "h", "ls"}, StdoutMode::pipe);
    EXPECT_EQ(json.exit_code, seen) << remote;
    EXPECT_TRUE(json.out.starts_with(R"({"exitCode":)" + remote + ",")) << json.out;
    auto text = session.run({"exec", "h", "ls"}, StdoutMode::terminal);
    EXPECT_EQ(text.exit_code, seen) << remote;
  }
}

TEST(Exec, TextModePassesOutputThroughAndNotesTruncation) {
  RemoteSession session;
  FakePeer peer(session.data_dir(),
                {answer_with(exec_answer("0", R"("no newline")", R"("err\n")", false)),
                 answer_with(exec_answer("1", R"("x\n")", R"("e")", true))});
  auto whole = session.run({"exec", "h", "ls"}, StdoutMode::terminal);
  EXPECT_EQ(whole.exit_code, 0);
  EXPECT_EQ(whole.out, "no newline");
  EXPECT_EQ(whole.err, "err\n");
  auto cut = session.run({"exec", "h", "ls"}, StdoutMode::terminal, "zh");
  EXPECT_EQ(cut.exit_code, 1);
  EXPECT_EQ(cut.out, "x\n");
  EXPECT_EQ(cut.err, "e\n[pendrel] 输出超过 1048576 字节，已截断\n");
  auto english = session.run({"exec", "h", "ls"}, StdoutMode::terminal);
  EXPECT_EQ(english.err, "e\n[pendrel] output exceeded 1048576 bytes and was truncated\n");
}

TEST(Exec, StdinIsSentUpToTheLimit) {
  RemoteSession session;
  FakePeer peer(session.data_dir(), {answer_with(plain_answer)});
  std::string script =
      "\xEF\xBB\xBF"
      "echo \"hi\"\n";
  auto small = session.run({"exec", "h", "--stdin"}, StdoutMode::pipe, "en", script);
  EXPECT_EQ(small.exit_code, 0);
  EXPECT_EQ(request_of(peer), R"({"type":"exec","data":{"host":"h","command":"echo \"hi\"\n")" +
                                  caller_member(expected_callers()) + "}}");

  std::string at_limit(1048576, 'x');
  auto sent = session.run({"exec", "h", "--stdin"}, StdoutMode::pipe, "en", at_limit);
  EXPECT_EQ(sent.exit_code, 0);
  EXPECT_NE(peer.received().back().find(at_limit), std::string::npos);
  EXPECT_EQ(peer.connections(), 2);

  auto over = session.run({"exec", "h", "--stdin"}, StdoutMode::pipe, "en", at_limit + "\xff");
  EXPECT_EQ(over.exit_code, 1);
  EXPECT_EQ(over.out,
            R"({"error":"usage","message":"stdin exceeds 1MB; nothing was run. Upload larger )"
            R"(scripts with pendrel upload first, then run them"})"
            "\n");
  EXPECT_EQ(peer.connections(), 2);
}

TEST(Exec, ArgumentErrorsNeverContactThePeer) {
  RemoteSession session;
  FakePeer peer(session.data_dir(), {answer_with(plain_answer)});
  const std::string usage =
      R"(usage: pendrel exec [--terminal] <host> \"<command>\" or pendrel exec [--terminal] )"
      R"(<host> --stdin)";
  struct Case {
    std::vector<std::string> args;
    std::string stdin_data;
    std::string message;
  };
  const Case cases[] = {
      {{"exec"}, "", usage},
      {{"exec", "h"}, "", usage},
      {{"exec", "h", "ls", "--terminal"}, "", usage},
      {{"exec", "h", " \t"}, "", "command must not be empty"},
      {{"exec", "h", "--stdin"}, "", "command must not be empty"},
      {{"exec", "h", "--stdin"}, "\xEF\xBB\xBF\n\n", "command must not be empty"},
      {{"exec", "h", "--stdin"}, "ls\xC3(", "stdin is not UTF-8 text"},
  };
  for (const Case& c : cases) {
    auto result = session.run(c.args, StdoutMode::pipe, "en", c.stdin_data);
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.out, R"({"error":"usage","message":")" + c.message + "\"}\n");
  }
  auto chinese = session.run({"exec", "h", ""}, StdoutMode::terminal, "zh");
  EXPECT_EQ(chinese.err, "pendrel: 命令不能为空\n");
  EXPECT_EQ(peer.connections(), 0);
}

TEST(Exec, AnswerOfAnotherKindIsInternal) {
  RemoteSession session;
  FakePeer peer(session.data_dir(),
                {answer_with(R"({"type":"transfer","data":{"local":"/tmp/a","remote":"/srv/a",)"
                             R"("bytes":12,"durationMs":40}})")});
  auto text = session.run({"exec", "h", "ls"}, StdoutMode::terminal);
  EXPECT_EQ(text.exit_code, 5);
  EXPECT_EQ(text.out, "");
  EXPECT_EQ(text.err,
            "pendrel: internal Pendrel error; check the Pendrel logs: unexpected answer from "
            "Pendrel: Transfer(TransferResponse { local: \"/tmp/a\", remote: \"/srv/a\", bytes: "
            "12, duration_ms: 40 })\n");
}

}  // namespace
}  // namespace pendrel::testing
