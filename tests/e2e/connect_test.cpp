// Reaching a desktop application that is already running (or reachable but broken): the
// handshake and exchange failures, the unavailability marker, the launch settings and the
// diagnostic lines.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/durations.h"
#include "support/fake_app.h"
#include "support/fake_peer.h"
#include "support/run_pendrel.h"
#include "support/temp_dir.h"

namespace pendrel::testing {
namespace {

constexpr const char* hosts_answer = R"({"type":"hosts","data":[]})";

// A home with a data directory; the fake application is named as PENDREL_APP so that any
// start attempt would leave a record behind.
struct Scene {
  TempDir home;
  std::string data_dir = home / "data";
  std::string record = home / "record";
  std::map<std::string, std::string> env = base_environment(home.path());

  Scene() {
    env["PENDREL_DATA_DIR"] = data_dir;
    env["PENDREL_APP"] = fake_app_binary();
    env["FAKE_APP_RECORD"] = record;
    env["FAKE_APP_LIFETIME_MS"] = "3000";
  }
  RunResult ls(StdoutMode mode = StdoutMode::pipe) const {
    return run_pendrel({.args = {"ls"}, .env = env, .stdout_mode = mode});
  }
  void expect_nothing_started() const {
    FakeAppGuard guard(record);
    EXPECT_FALSE(wait_for_record(record, std::chrono::milliseconds(300)));
  }
};

std::string json_error(const std::string& code, const std::string& message) {
  return R"({"error":")" + code + R"(","message":")" + message + "\"}\n";
}

TEST(RunningApp, DiagnosticLinesInOrderWhenLogIsSet) {
  Scene scene;
  FakePeer peer(scene.data_dir, {answer_with(hosts_answer)});
  for (const char* value : {"1", "0"}) {
    scene.env["PENDREL_LOG"] = value;
    for (auto mode : {StdoutMode::pipe, StdoutMode::terminal}) {
      auto result = scene.ls(mode);
      EXPECT_EQ(result.exit_code, 0);
      const std::string expected = "[pendrel] 数据目录 " + scene.data_dir +
                                   "\n"
                                   "[pendrel] 已连上运行中的 Pendrel\n"
                                   "[pendrel] 发送请求：ls\n"
                                   "[pendrel] 请求 ls 完成（# ms）\n";
      // In text mode the empty list's notice follows the diagnostics.
      const std::string notice =
          mode == StdoutMode::terminal
              ? "No hosts allow CLI access. Enable CLI access for a host in Pendrel.\n"
              : "";
      EXPECT_EQ(without_durations(result.err), expected + notice) << value;
    }
  }
}

TEST(RunningApp, NoDiagnosticsWhenLogIsUnsetOrEmpty) {
  Scene scene;
  FakePeer peer(scene.data_dir, {answer_with(hosts_answer)});
  auto unset = scene.ls();
  EXPECT_EQ(unset.exit_code, 0);
  EXPECT_EQ(unset.out, "[]\n");
  EXPECT_EQ(unset.err, "");
  scene.env["PENDREL_LOG"] = "";
  auto empty = scene.ls();
  EXPECT_EQ(empty.exit_code, 0);
  EXPECT_EQ(empty.err, "");
  // The peer saw the Hello, then the request.
  auto frames = peer.received();
  ASSERT_EQ(frames.size(), 4u);
  EXPECT_EQ(frames[0], R"({"protocol":1,"client":"pendrel 0.1.3","lang":"en"})");
  EXPECT_EQ(frames[1], R"({"type":"listHosts","data":{"query":""}})");
}

TEST(RunningApp, HandshakeFailures) {
  const struct {
    const char* name;
    PeerScript script;
    std::string code;
    std::string message;
    int exit_code;
  } cases[] = {
      {"error answer",
       {PeerAction::read(),
        PeerAction::send(R"({"type":"error","data":{"code":"cli_disabled","message":"off"}})")},
       "cli_disabled",
       "off",
       7},
      {"too old",
       {PeerAction::read(),
        PeerAction::send(R"({"type":"welcome","data":{"protocol":0,"appVersion":"0.9"}})")},
       "protocol_mismatch",
       "Pendrel 0.9 使用的协议版本 0 太旧",
       5},
      {"wrong kind",
       {PeerAction::read(), PeerAction::send(R"({"type":"ok"})")},
       "connect_failed",
       "unexpected answer from Pendrel: 握手时收到 Ok",
       5},
      {"closed",
       {PeerAction::read(), PeerAction::hang_up()},
       "connect_failed",
       "unexpected answer from Pendrel: 握手时连接被关闭",
       5},
  };
  for (const auto& c : cases) {
    Scene scene;
    FakePeer peer(scene.data_dir, {c.script});
    scene.env["PENDREL_LOG"] = "1";
    auto result = scene.ls();
    EXPECT_EQ(result.exit_code, c.exit_code) << c.name;
    EXPECT_EQ(result.out, json_error(c.code, c.message)) << c.name;
    EXPECT_NE(result.err.find("[pendrel] 连接 Pendrel 失败：" + c.message + "（" + c.code + "）\n"),
              std::string::npos)
        << c.name << ": " << result.err;
    EXPECT_EQ(peer.connections(), 1) << c.name;  // no second attempt, nothing started
    scene.expect_nothing_started();
  }
}

TEST(RunningApp, OperatingSystemErrorsEndTheSequence) {
  Scene scene;
  // 108 bytes of socket path: <dir>/run/cli.sock.
  std::string long_dir = scene.home.path() + "/";
  long_dir += std::string(108 - long_dir.size() - std::string("/run/cli.sock").size(), 'd');
  scene.env["PENDREL_DATA_DIR"] = long_dir;
  auto piped = scene.ls();
  EXPECT_EQ(piped.exit_code, 5);
  EXPECT_EQ(piped.out, json_error("connect_failed",
                                  "failed to connect to Pendrel: path must "
                                  "be shorter than SUN_LEN"));
  auto text = scene.ls(StdoutMode::terminal);
  EXPECT_EQ(text.exit_code, 5);
  EXPECT_EQ(text.out, "");
  EXPECT_EQ(text.err,
            "pendrel: connection or execution failed: failed to connect to Pendrel: path must be "
            "shorter than SUN_LEN\n");
  scene.expect_nothing_started();
}

TEST(RunningApp, PermissionDeniedOnTheSocketIsNotNotRunning) {
  if (::geteuid() == 0) GTEST_SKIP() << "root connects regardless of permissions";
  Scene scene;
  FakePeer peer(scene.data_dir, {answer_with(hosts_answer)});
  const std::string socket = scene.data_dir + "/run/cli.sock";
  ASSERT_EQ(::chmod(socket.c_str(), 0), 0);
  auto result = scene.ls();
  EXPECT_EQ(result.exit_code, 5);
  EXPECT_EQ(result.out,
            json_error("connect_failed",
                       "failed to connect to Pendrel: Permission denied (os error 13)"));
  scene.expect_nothing_started();
}

TEST(RunningApp, ExchangeFailures) {
  const struct {
    const char* name;
    PeerAction answer;
    std::string code;
    std::string message;  // a prefix of the message for malformed answers
    int exit_code;
  } cases[] = {
      {"closed", PeerAction::hang_up(), "connect_failed",
       "Pendrel closed the connection before answering", 5},
      {"half a prefix", PeerAction::raw(std::string("\0\0", 2)), "connect_failed",
       "Pendrel closed the connection before answering", 5},
      {"oversize", PeerAction::raw(length_prefix(16'777'217)), "connect_failed",
       "unexpected answer from Pendrel: 消息过大（16777217 字节）", 5},
      {"malformed", PeerAction::send("not json"), "connect_failed",
       "unexpected answer from Pendrel: 消息格式错误：", 5},
      {"known error code",
       PeerAction::send(R"({"type":"error","data":{"code":"host_not_found","message":"no web"}})"),
       "host_not_found", "no web", 2},
      {"unknown error code",
       PeerAction::send(R"({"type":"error","data":{"code":"brand_new","message":"new"}})"),
       "brand_new", "new", 5},
  };
  for (const auto& c : cases) {
    Scene scene;
    FakePeer peer(scene.data_dir, {{PeerAction::read(), PeerAction::send(default_welcome),
                                    PeerAction::read(), c.answer, PeerAction::hang_up()}});
    scene.env["PENDREL_LOG"] = "1";
    auto result = scene.ls();
    EXPECT_EQ(result.exit_code, c.exit_code) << c.name;
    EXPECT_TRUE(result.out.starts_with(R"({"error":")" + c.code + R"(","message":")" + c.message))
        << c.name << ": " << result.out;
    const std::string line = c.code == "connect_failed"
                                 ? "[pendrel] 请求 ls 中断：" + c.message
                                 : "[pendrel] 请求 ls 失败：" + c.code + "（";
    EXPECT_NE(result.err.find(line), std::string::npos) << c.name << ": " << result.err;
  }
}

TEST(RunningApp, ExchangeFailureMessagesFollowTheLanguage) {
  Scene scene;
  FakePeer peer(scene.data_dir, {{PeerAction::read(), PeerAction::send(default_welcome),
                                  PeerAction::read(), PeerAction::hang_up()}});
  scene.env["PENDREL_LOG"] = "1";
  scene.env["PENDREL_LANG"] = "zh";
  auto result = scene.ls(StdoutMode::terminal);
  EXPECT_EQ(result.exit_code, 5);
  EXPECT_NE(without_durations(result.err)
                .find("[pendrel] 请求 ls 中断：Pendrel 在回答前关闭了连接（# ms）\n"),
            std::string::npos)
      << result.err;
  EXPECT_TRUE(result.err.ends_with("pendrel: 连接或执行失败: Pendrel 在回答前关闭了连接\n"))
      << result.err;
}

TEST(NotRunning, LiveMarkerEndsTheSequenceBeforeAnyStart) {
  Scene scene;
  write_file(scene.data_dir + "/run/cli.unavailable",
             std::to_string(::getpid()) + "\n  disk full \n");
  scene.env["PENDREL_LOG"] = "1";
  auto result = scene.ls();
  EXPECT_EQ(result.exit_code, 5);
  EXPECT_EQ(result.out,
            json_error("connect_failed",
                       "Pendrel is running but its command-line service did not start (disk full). "
                       "See the logs in the Pendrel data directory; this usually means the data "
                       "directory path is too long or on a network share"));
  EXPECT_NE(result.err.find("[pendrel] Pendrel 在运行，但命令行服务没有启动：disk full\n"),
            std::string::npos);
  scene.expect_nothing_started();
}

TEST(NotRunning, AutoStartOffStartsNothing) {
  Scene scene;
  write_file(scene.data_dir + "/cli-launch.json", R"({"autoStart":false})");
  scene.env["PENDREL_LOG"] = "1";
  for (auto mode : {StdoutMode::pipe, StdoutMode::terminal}) {
    auto result = scene.ls(mode);
    EXPECT_EQ(result.exit_code, 7);
    const std::string message =
        "open Pendrel first (Settings → Command-line tool doesn't allow starting it in the "
        "background when it isn't open)";
    if (mode == StdoutMode::pipe) {
      EXPECT_EQ(result.out, json_error("app_not_running", message));
    } else {
      EXPECT_TRUE(result.err.ends_with("pendrel: Pendrel is not running: " + message + "\n"))
          << result.err;
    }
    EXPECT_NE(result.err.find("[pendrel] Pendrel 没有运行，设置中不允许自动启动\n"
                              "[pendrel] 连接 Pendrel 失败：" +
                              message + "（app_not_running）\n"),
              std::string::npos)
        << result.err;
  }
  scene.expect_nothing_started();
}

}  // namespace
}  // namespace pendrel::testing
