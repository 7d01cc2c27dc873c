#include "protocol/handshake.h"

#include <gtest/gtest.h>

#include "support/fake_peer.h"
#include "support/temp_dir.h"

namespace pendrel {
namespace {

using testing::FakePeer;
using testing::length_prefix;
using testing::PeerAction;
using testing::PeerScript;
using testing::TempDir;

const Hello english_hello{1, "pendrel 0.1.3", "en"};

std::expected<Connection, ConnectError> handshake_with(const PeerScript& script) {
  TempDir home;
  FakePeer peer(home.path(), {script});
  return connect_and_handshake(home.path(), english_hello);
}

PeerScript answering(std::string answer) {
  return {PeerAction::read(), PeerAction::send(std::move(answer))};
}

TEST(Handshake, SendsTheHelloAndKeepsTheWelcome) {
  TempDir home;
  FakePeer peer(home.path(),
                {answering(R"({"type":"welcome","data":{"protocol":7,"appVersion":"3.1"}})")});
  auto connection = connect_and_handshake(home.path(), english_hello);
  ASSERT_TRUE(connection.has_value());
  EXPECT_TRUE(connection->socket.valid());
  EXPECT_EQ(connection->protocol, 7u);
  EXPECT_EQ(connection->app_version, "3.1");
  EXPECT_EQ(peer.received(),
            std::vector<std::string>{R"({"protocol":1,"client":"pendrel 0.1.3","lang":"en"})"});
}

TEST(Handshake, AcceptsAWelcomeWithoutVersion) {
  auto connection = handshake_with(answering(R"({"type":"welcome","data":{"protocol":1}})"));
  ASSERT_TRUE(connection.has_value());
  EXPECT_EQ(connection->app_version, "");
}

TEST(Handshake, PassesTheApplicationsRefusalsOn) {
  struct Case {
    std::string answer;
    std::string code;
    std::string message;
  };
  const Case cases[] = {
      {R"({"type":"welcome","data":{"protocol":0,"appVersion":"0.9"}})", "protocol_mismatch",
       "Pendrel 0.9 使用的协议版本 0 太旧"},
      {R"({"type":"welcome","data":{"protocol":0}})", "protocol_mismatch",
       "Pendrel  使用的协议版本 0 太旧"},
      {R"({"type":"error","data":{"code":"cli_disabled","message":"命令行已关闭"}})",
       "cli_disabled", "命令行已关闭"},
  };
  for (const auto& [answer, code, message] : cases) {
    auto connection = handshake_with(answering(answer));
    ASSERT_FALSE(connection.has_value()) << answer;
    EXPECT_EQ(connection.error().kind, ConnectError::Kind::app) << answer;
    EXPECT_EQ(connection.error().body.code, code);
    EXPECT_EQ(connection.error().body.message, message);
  }
}

TEST(Handshake, ReportsImproperAnswersAsProtocolTexts) {
  struct Case {
    PeerScript script;
    std::string text;
  };
  const Case cases[] = {
      {answering(R"({"type":"ok"})"), "握手时收到 Ok"},
      {answering(
           R"({"type":"transfer","data":{"local":"/a","remote":"/b","bytes":1,"durationMs":2}})"),
       R"(握手时收到 Transfer(TransferResponse { local: "/a", remote: "/b", bytes: 1, duration_ms: 2 }))"},
      {{PeerAction::hang_up()}, "握手时连接被关闭"},
      {{PeerAction::read(), PeerAction::hang_up()}, "握手时连接被关闭"},
      {{PeerAction::read(), PeerAction::raw(length_prefix(16'777'217))},
       "消息过大（16777217 字节）"},
      {answering("{\"type\":\"welcome\"}\n"),
       "消息格式错误：missing field `data` at line 1 column 18"},
  };
  for (const auto& [script, text] : cases) {
    auto connection = handshake_with(script);
    ASSERT_FALSE(connection.has_value()) << text;
    EXPECT_EQ(connection.error().kind, ConnectError::Kind::protocol) << text;
    EXPECT_EQ(connection.error().text, text);
  }
}

TEST(Handshake, ReadFailuresInsideAFrameAreIoErrors) {
  auto connection = handshake_with(
      {PeerAction::read(), PeerAction::raw(length_prefix(30).substr(0, 3)), PeerAction::hang_up()});
  ASSERT_FALSE(connection.has_value());
  EXPECT_EQ(connection.error().kind, ConnectError::Kind::io);
  EXPECT_EQ(connection.error().io.text(), "failed to fill whole buffer");
}

TEST(Handshake, FindsNobodyInAnEmptyDataDirectory) {
  TempDir home;
  auto connection = connect_and_handshake(home.path(), english_hello);
  ASSERT_FALSE(connection.has_value());
  EXPECT_EQ(connection.error().kind, ConnectError::Kind::not_running);
}

TEST(Handshake, ThenOneExchangeOnTheSameSocket) {
  TempDir home;
  FakePeer peer(
      home.path(),
      {testing::answer_with(
          R"({"type":"transfer","data":{"local":"/tmp/a","remote":"/srv/a","bytes":12,"durationMs":40}})")});
  Hello chinese{1, "pendrel 0.1.3", "zh"};
  auto connection = connect_and_handshake(home.path(), chinese);
  ASSERT_TRUE(connection.has_value());
  EXPECT_EQ(connection->app_version, "9.9.9");
  auto answer = exchange(*connection, DownloadRequest{{"web-1", "/tmp/a", "/srv/a", {}}});
  ASSERT_TRUE(answer.has_value());
  EXPECT_EQ(
      debug_render(*answer),
      R"(Transfer(TransferResponse { local: "/tmp/a", remote: "/srv/a", bytes: 12, duration_ms: 40 }))");
  EXPECT_EQ(
      peer.received(),
      (std::vector<std::string>{
          R"({"protocol":1,"client":"pendrel 0.1.3","lang":"zh"})",
          R"({"type":"download","data":{"host":"web-1","local":"/tmp/a","remote":"/srv/a"}})"}));
}

}  // namespace
}  // namespace pendrel
