#include <gtest/gtest.h>

#include <string>

#include "protocol/messages.h"

namespace pendrel {
namespace {

struct Encoded {
  Request request;
  std::string payload;
};

TEST(RequestEncoding, WritesTheExactBytesOfEveryKind) {
  const Encoded cases[] = {
      {ListHostsRequest{""}, R"({"type":"listHosts","data":{"query":""}})"},
      {ListHostsRequest{"web \"prod\""}, R"({"type":"listHosts","data":{"query":"web \"prod\""}})"},
      {ExecRequest{"web-1", "uptime", TerminalMode::off, {}},
       R"({"type":"exec","data":{"host":"web-1","command":"uptime"}})"},
      {ExecRequest{"web-1", "uptime", TerminalMode::on, {"bash", "node"}},
       R"({"type":"exec","data":{"host":"web-1","command":"uptime","terminal":true,"caller":["bash","node"]}})"},
      {ExecRequest{"主机", "echo 'a'\n\tls /tmp\\x", TerminalMode::off, {}},
       "{\"type\":\"exec\",\"data\":{\"host\":\"主机\",\"command\":\"echo 'a'\\n\\tls "
       "/tmp\\\\x\"}}"},
      {ExecRequest{"h", std::string("\x01\x1f\x7f\b\f\r", 6), TerminalMode::off, {}},
       "{\"type\":\"exec\",\"data\":{\"host\":\"h\",\"command\":\"\\u0001\\u001f\x7f\\b\\f\\r\"}}"},
      {UploadRequest{{"web-1", "/tmp/a b", "/srv/", {"zsh"}}},
       R"({"type":"upload","data":{"host":"web-1","local":"/tmp/a b","remote":"/srv/","caller":["zsh"]}})"},
      {DownloadRequest{{"web-1", "./", "~/app.log", {}}},
       R"({"type":"download","data":{"host":"web-1","local":"./","remote":"~/app.log"}})"},
      {ActivateRequest{{}, {}}, R"({"type":"activate","data":{"args":[]}})"},
      {ActivateRequest{{"--x"}, {{"/a", {0, 255}}}},
       R"({"type":"activate","data":{"args":["--x"],"files":[{"path":"/a","data":[0,255]}]}})"},
      {QuitRequest{}, R"({"type":"quit"})"},
  };
  for (const auto& [request, payload] : cases)
    EXPECT_EQ(encode_request(request), payload);
}

TEST(RequestEncoding, WritesTheHelloAsAPlainObject) {
  EXPECT_EQ(encode_hello(Hello{1, "pendrel 0.1.3", "en"}),
            R"({"protocol":1,"client":"pendrel 0.1.3","lang":"en"})");
  EXPECT_EQ(encode_hello(Hello{1, "pendrel 0.1.3", "zh"}),
            R"({"protocol":1,"client":"pendrel 0.1.3","lang":"zh"})");
}

TEST(DebugRender, ShowsRecordsWithQuotedEscapedText) {
  EXPECT_EQ(debug_render(OkAnswer{}), "Ok");
  EXPECT_EQ(
      debug_render(TransferResponse{"/tmp/a", "/srv/a", 12, 40}),
      R"(Transfer(TransferResponse { local: "/tmp/a", remote: "/srv/a", bytes: 12, duration_ms: 40 }))");
  EXPECT_EQ(
      debug_render(HostsAnswer{{{"h1", "web-1", "10.0.0.5", 22, "deploy", "SSH"}}}),
      R"(Hosts([HostSummary { id: "h1", name: "web-1", host: "10.0.0.5", port: 22, username: "deploy", protocol: "SSH" }]))");
  EXPECT_EQ(debug_render(ErrorBody{"x\"y", "a\\b\n"}),
            R"(Error(ErrorBody { code: "x\"y", message: "a\\b\n" }))");
  EXPECT_EQ(debug_render(Welcome{0, "0.9"}),
            R"(Welcome(Welcome { protocol: 0, app_version: "0.9" }))");
}

}  // namespace
}  // namespace pendrel
