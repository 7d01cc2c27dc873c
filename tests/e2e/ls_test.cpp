#include <gtest/gtest.h>

#include "remote_session.h"

namespace pendrel::testing {
namespace {

constexpr const char* two_hosts =
    R"({"type":"hosts","data":[)"
    R"({"id":"h_1","name":"数据库","host":"10.0.0.5","port":22,"username":"root","protocol":"SSH"},)"
    R"({"protocol":"Telnet","port":2222,"username":"部署","host":"::1","name":"cafe\u0301 \"q\"","id":"h_22"}]})";

TEST(Ls, JsonArrayKeepsOrderAndFixedKeys) {
  RemoteSession session;
  FakePeer peer(session.data_dir(), {answer_with(two_hosts)});
  auto result = session.run({"ls"}, StdoutMode::pipe);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out,
            R"([{"id":"h_1","name":"数据库","host":"10.0.0.5","port":22,"username":"root",)"
            R"("protocol":"SSH"},{"id":"h_22","name":"cafe)"
            "\u0301"
            R"( \"q\"","host":"::1","port":2222,)"
            R"("username":"部署","protocol":"Telnet"}])"
            "\n");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(request_of(peer), R"({"type":"listHosts","data":{"query":""}})");
}

TEST(Ls, QueryIsSentUnchanged) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"ls", "-q", "web"}, R"({"type":"listHosts","data":{"query":"web"}})"},
      {{"ls", "-q", ""}, R"({"type":"listHosts","data":{"query":""}})"},
      {{"ls", "-q", "-q"}, R"({"type":"listHosts","data":{"query":"-q"}})"},
  };
  for (const auto& [args, request] : cases) {
    RemoteSession session;
    FakePeer peer(session.data_dir(), {answer_with(R"({"type":"hosts","data":[]})")});
    auto result = session.run(args, StdoutMode::pipe);
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(request_of(peer), request);
  }
}

TEST(Ls, TableAlignsChineseTitlesWideAndCombiningNames) {
  RemoteSession session;
  FakePeer peer(session.data_dir(), {answer_with(two_hosts)});
  auto result = session.run({"ls"}, StdoutMode::terminal, "zh");
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out,
            "ID    名称      地址         用户  协议\n"
            "h_1   数据库    10.0.0.5:22  root  SSH\n"
            "h_22  cafe\u0301 \"q\"  ::1:2222     部署  Telnet\n");
  EXPECT_EQ(result.err, "");
}

TEST(Ls, EnglishTitles) {
  RemoteSession session;
  FakePeer peer(session.data_dir(),
                {answer_with(R"({"type":"hosts","data":[{"id":"h_1a2b","name":"web-1",)"
                             R"("host":"10.0.0.5","port":22,"username":"deploy",)"
                             R"("protocol":"SSH"}]})")});
  auto result = session.run({"ls"}, StdoutMode::terminal);
  EXPECT_EQ(result.out,
            "ID      NAME   ADDRESS      USER    PROTOCOL\n"
            "h_1a2b  web-1  10.0.0.5:22  deploy  SSH\n");
}

TEST(Ls, EmptyListInBothModes) {
  RemoteSession session;
  FakePeer peer(session.data_dir(), {answer_with(R"({"type":"hosts","data":[]})")});
  auto json = session.run({"ls"}, StdoutMode::pipe);
  EXPECT_EQ(json.exit_code, 0);
  EXPECT_EQ(json.out, "[]\n");
  EXPECT_EQ(json.err, "");
  auto text = session.run({"ls"}, StdoutMode::terminal);
  EXPECT_EQ(text.exit_code, 0);
  EXPECT_EQ(text.out, "");
  EXPECT_EQ(text.err, "No hosts allow CLI access. Enable CLI access for a host in Pendrel.\n");
  auto chinese = session.run({"ls"}, StdoutMode::terminal, "zh");
  EXPECT_EQ(chinese.err, "没有允许 CLI 访问的主机。请在 Pendrel 中为主机开启 CLI 访问。\n");
}

TEST(Ls, AnswerOfAnotherKindIsInternal) {
  RemoteSession session;
  FakePeer peer(session.data_dir(), {answer_with(R"({"type":"ok"})")});
  auto json = session.run({"ls"}, StdoutMode::pipe);
  EXPECT_EQ(json.exit_code, 5);
  EXPECT_EQ(json.out, R"({"error":"internal","message":"unexpected answer from Pendrel: Ok"})"
                      "\n");
  auto text = session.run({"ls"}, StdoutMode::terminal);
  EXPECT_EQ(text.exit_code, 5);
  EXPECT_EQ(text.err,
            "pendrel: internal Pendrel error; check the Pendrel logs: unexpected answer from "
            "Pendrel: Ok\n");
}

TEST(Ls, UsageErrorsNeverContactThePeer) {
  RemoteSession session;
  FakePeer peer(session.data_dir(), {answer_with(R"({"type":"hosts","data":[]})")});
  for (std::vector<std::string> args : {std::vector<std::string>{"ls", "-q"},
                                        {"ls", "web"},
                                        {"ls", "-x", "web"},
                                        {"ls", "-q", "a", "b"}}) {
    auto result = session.run(args, StdoutMode::pipe);
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.out, R"({"error":"usage","message":"usage: pendrel ls [-q <keyword>]"})"
                          "\n");
  }
  EXPECT_EQ(peer.connections(), 0);
}

}  // namespace
}  // namespace pendrel::testing
