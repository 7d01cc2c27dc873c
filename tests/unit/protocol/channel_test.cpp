#include "protocol/channel.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>
#include <filesystem>

#include "support/fake_peer.h"
#include "support/temp_dir.h"

namespace pendrel {
namespace {

using testing::FakePeer;
using testing::length_prefix;
using testing::PeerAction;
using testing::PeerScript;
using testing::TempDir;

// Opens a channel to a fake peer playing `script` and reads one answer from it.
std::expected<Response, ProtocolError> answer_from(const PeerScript& script) {
  TempDir home;
  FakePeer peer(home.path(), {script});
  auto socket = open_channel(home.path());
  if (!socket) {
    ADD_FAILURE() << "the fake peer could not be reached";
    return std::unexpected(ProtocolError{});
  }
  return read_answer(socket->get());
}

// Runs one exchange against a fake peer that plays `script` from the first byte on.
std::expected<Response, ExchangeError> exchange_with(const PeerScript& script,
                                                     const Request& request) {
  TempDir home;
  FakePeer peer(home.path(), {script});
  auto socket = open_channel(home.path());
  if (!socket) {
    ADD_FAILURE() << "the fake peer could not be reached";
    return std::unexpected(ExchangeError{});
  }
  Connection connection{std::move(*socket), "9.9.9", 1};
  return exchange(connection, request);
}

TEST(ReadAnswer, AcceptsAFrameOfExactlyTheLimit) {
  std::string payload = R"({"type":"ok"})";
  payload.resize(max_answer_bytes, ' ');
  auto answer = answer_from({PeerAction::send(payload)});
  ASSERT_TRUE(answer.has_value()) << answer.error().text();
  EXPECT_TRUE(std::holds_alternative<OkAnswer>(*answer));
}

TEST(ReadAnswer, RefusesALargerFrameBeforeReadingIt) {
  // Nothing follows the prefix: reading the payload would wait for the pause to end.
  auto answer = answer_from(
      {PeerAction::raw(length_prefix(16'777'217)), PeerAction::pause(std::chrono::seconds(30))});
  ASSERT_FALSE(answer.has_value());
  EXPECT_EQ(answer.error().kind, ProtocolError::Kind::too_large);
  EXPECT_EQ(answer.error().announced, 16'777'217u);
  EXPECT_EQ(answer.error().text(), "消息过大（16777217 字节）");
}

TEST(ReadAnswer, ClassifiesBrokenFrames) {
  struct Case {
    const char* name;
    PeerScript script;
    ProtocolError::Kind kind;
    std::string text;
  };
  const Case cases[] = {
      {"empty payload",
       {PeerAction::send("")},
       ProtocolError::Kind::malformed,
       "消息格式错误：EOF while parsing a value at line 1 column 0"},
      {"not an answer",
       {PeerAction::send("[1]")},
       ProtocolError::Kind::malformed,
       "消息格式错误：invalid type: sequence, expected adjacently tagged enum Response at line 1 "
       "column 1"},
      {"closed at once", {PeerAction::hang_up()}, ProtocolError::Kind::closed, "连接已关闭"},
      {"closed inside the prefix",
       {PeerAction::raw(length_prefix(20).substr(0, 2)), PeerAction::hang_up()},
       ProtocolError::Kind::io,
       "读写失败：failed to fill whole buffer"},
      {"closed inside the payload",
       {PeerAction::raw(length_prefix(20) + R"({"type")"), PeerAction::hang_up()},
       ProtocolError::Kind::io,
       "读写失败：failed to fill whole buffer"},
  };
  for (const auto& [name, script, kind, text] : cases) {
    auto answer = answer_from(script);
    ASSERT_FALSE(answer.has_value()) << name;
    EXPECT_EQ(answer.error().kind, kind) << name;
    EXPECT_EQ(answer.error().text(), text) << name;
  }
}

TEST(Exchange, SendsTheRequestAndReturnsAnyAnswer) {
  TempDir home;
  FakePeer peer(home.path(),
                {{PeerAction::read(), PeerAction::send(R"({"type":"hosts","data":[]})")}});
  auto socket = open_channel(home.path());
  ASSERT_TRUE(socket.has_value());
  Connection connection{std::move(*socket), "9.9.9", 1};
  auto answer =
      exchange(connection, ExecRequest{"web-1", "uptime", TerminalMode::on, {"bash", "node"}});
  ASSERT_TRUE(answer.has_value());
  EXPECT_EQ(debug_render(*answer), "Hosts([])");
  EXPECT_EQ(
      peer.received(),
      std::vector<std::string>{
          R"({"type":"exec","data":{"host":"web-1","command":"uptime","terminal":true,"caller":["bash","node"]}})"});
}

TEST(Exchange, TreatsAPeerThatWentAwayAsClosed) {
  const ListHostsRequest small{""};
  // Larger than any socket buffer, so the write meets the closed peer.
  const ExecRequest large{"web-1", std::string(8 << 20, 'x'), TerminalMode::off, {}};
  struct Case {
    const char* name;
    PeerScript script;
    Request request;
  };
  const Case cases[] = {
      {"closed at once", {PeerAction::hang_up()}, small},
      {"closed while the request is written", {PeerAction::hang_up()}, large},
      {"closed inside the prefix",
       {PeerAction::read(), PeerAction::raw(length_prefix(9).substr(0, 2)), PeerAction::hang_up()},
       small},
      {"closed inside the payload",
       {PeerAction::read(), PeerAction::raw(length_prefix(9) + "{"), PeerAction::hang_up()},
       small},
  };
  for (const auto& [name, script, request] : cases) {
    auto answer = exchange_with(script, request);
    ASSERT_FALSE(answer.has_value()) << name;
    EXPECT_EQ(answer.error().kind, ExchangeError::Kind::closed) << name;
  }
}

TEST(Exchange, ReportsBadAnswersAsProtocolTexts) {
  auto too_large = exchange_with(
      {PeerAction::read(), PeerAction::raw(length_prefix(4'000'000'000u))}, QuitRequest{});
  ASSERT_FALSE(too_large.has_value());
  EXPECT_EQ(too_large.error().kind, ExchangeError::Kind::protocol);
  EXPECT_EQ(too_large.error().text, "消息过大（4000000000 字节）");

  auto malformed = exchange_with({PeerAction::read(), PeerAction::send("{}")}, QuitRequest{});
  ASSERT_FALSE(malformed.has_value());
  EXPECT_EQ(malformed.error().kind, ExchangeError::Kind::protocol);
  EXPECT_EQ(malformed.error().text, "消息格式错误：missing field `type` at line 1 column 2");
}

TEST(WriteFrame, PrefixesTheBigEndianLength) {
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
  UniqueFd writer(pair[0]), reader(pair[1]);
  std::string payload(0x0102, 'a');
  ASSERT_TRUE(write_frame(writer.get(), payload).has_value());
  writer.reset();
  std::string received(4 + payload.size() + 1, '\0');
  ssize_t got = ::recv(reader.get(), received.data(), received.size(), MSG_WAITALL);
  ASSERT_EQ(got, static_cast<ssize_t>(4 + payload.size()));
  EXPECT_EQ(received.substr(0, 4), std::string("\0\0\x01\x02", 4));
}

TEST(OpenChannel, FindsNobodyWhenTheSocketIsMissingOrDead) {
  TempDir home;
  auto missing = open_channel(home.path());
  ASSERT_FALSE(missing.has_value());
  EXPECT_TRUE(std::holds_alternative<NotRunning>(missing.error()));

  // A socket file left behind by a listener that is gone refuses connections.
  std::filesystem::create_directories(home / "run");
  int dead = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::string path = home / "run/cli.sock";
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  ASSERT_EQ(::bind(dead, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  ::close(dead);
  auto refused = open_channel(home.path());
  ASSERT_FALSE(refused.has_value());
  EXPECT_TRUE(std::holds_alternative<NotRunning>(refused.error()));
}

TEST(OpenChannel, AddressesPathsUpTo107Bytes) {
  TempDir home;
  const std::size_t suffix = std::string_view("/run/cli.sock").size();
  // home/ddd...: the socket path is then exactly 107 bytes.
  std::string data_dir = home.path() + "/";
  data_dir.append(107 - suffix - data_dir.size(), 'd');
  ASSERT_EQ(data_dir.size() + suffix, 107u);
  FakePeer peer(data_dir, {{PeerAction::send(R"({"type":"ok"})")}});
  auto socket = open_channel(data_dir);
  ASSERT_TRUE(socket.has_value());
  EXPECT_TRUE(read_answer(socket->get()).has_value());

  auto too_long = open_channel(data_dir + "e");
  ASSERT_FALSE(too_long.has_value());
  ASSERT_TRUE(std::holds_alternative<IoError>(too_long.error()));
  EXPECT_EQ(std::get<IoError>(too_long.error()).text(), "path must be shorter than SUN_LEN");

  auto with_nul = open_channel(home.path() + std::string("\0x", 2));
  ASSERT_FALSE(with_nul.has_value());
  ASSERT_TRUE(std::holds_alternative<IoError>(with_nul.error()));
  EXPECT_EQ(std::get<IoError>(with_nul.error()).text(),
            "paths must not contain interior null bytes");
}

}  // namespace
}  // namespace pendrel
