#include <gtest/gtest.h>

#include <string>

#include "decode_padded.h"
#include "protocol/messages.h"

namespace pendrel {
namespace {

using testing::decode_padded;

struct Accepted {
  const char* payload;
  const char* rendered;
};

class AcceptedAnswer : public ::testing::TestWithParam<Accepted> {};

TEST_P(AcceptedAnswer, DecodesToTheRecord) {
  auto response = decode_padded(GetParam().payload);
  ASSERT_TRUE(response.has_value()) << response.error();
  EXPECT_EQ(debug_render(*response), GetParam().rendered);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, AcceptedAnswer,
    ::testing::Values(
        Accepted{R"({"type":"ok"})", "Ok"}, Accepted{R"({"type":"ok","data":null})", "Ok"},
        Accepted{R"({"data":null,"type":"ok"})", "Ok"},
        Accepted{R"({"data":{"protocol":1},"type":"welcome","extra":[1,{"x":null}]})",
                 R"(Welcome(Welcome { protocol: 1, app_version: "" }))"},
        Accepted{R"({"type":"welcome","data":{"appVersion":"2.0","protocol":4294967295}})",
                 R"(Welcome(Welcome { protocol: 4294967295, app_version: "2.0" }))"},
        Accepted{R"({"type":"error","data":{"code":"cli_disabled"}})",
                 R"(Error(ErrorBody { code: "cli_disabled", message: "" }))"},
        Accepted{R"({"type":"hosts","data":[]})", "Hosts([])"},
        Accepted{R"({"type":"hosts","data":[{"id":"h1","name":"web-1","host":"10.0.0.5",)"
                 R"("port":22,"username":"deploy","protocol":"SSH","tags":["x"]}]})",
                 R"(Hosts([HostSummary { id: "h1", name: "web-1", host: "10.0.0.5", port: 22, )"
                 R"(username: "deploy", protocol: "SSH" }]))"},
        Accepted{R"({"type":"exec","data":{"exitCode":-1,"stdout":"a\nb","stderr":"\u00e9",)"
                 R"("truncated":true,"durationMs":18446744073709551615}})",
                 R"(Exec(ExecResponse { exit_code: -1, stdout: "a\nb", stderr: "é", )"
                 R"(truncated: true, duration_ms: 18446744073709551615 }))"},
        Accepted{R"({"type":"exec","data":{"exitCode":-2147483648,"stdout":"","stderr":"",)"
                 R"("truncated":false,"durationMs":0}})",
                 R"(Exec(ExecResponse { exit_code: -2147483648, stdout: "", stderr: "", )"
                 R"(truncated: false, duration_ms: 0 }))"},
        Accepted{" \t\r\n{\"type\":\"transfer\",\"data\":{\"durationMs\":40,\"bytes\":12,"
                 "\"remote\":\"/srv/a\",\"local\":\"/tmp/a\"}}\n",
                 R"(Transfer(TransferResponse { local: "/tmp/a", remote: "/srv/a", bytes: 12, )"
                 R"(duration_ms: 40 }))"}));

struct Rejected {
  const char* payload;
  const char* description;
};

class RejectedAnswer : public ::testing::TestWithParam<Rejected> {};

TEST_P(RejectedAnswer, NamesTheFaultAndWhere) {
  auto response = decode_padded(GetParam().payload);
  ASSERT_FALSE(response.has_value()) << debug_render(*response);
  EXPECT_EQ(response.error(), GetParam().description) << GetParam().payload;
}

INSTANTIATE_TEST_SUITE_P(
    Syntax, RejectedAnswer,
    ::testing::Values(Rejected{"", "EOF while parsing a value at line 1 column 0"},
                      Rejected{" \n\t ", "EOF while parsing a value at line 2 column 2"},
                      Rejected{R"({"type":"ok"} {"type":"ok"})",
                               "trailing characters at line 1 column 15"},
                      Rejected{"{\"type\":\"ok\"}\n\nx", "trailing characters at line 3 column 1"},
                      Rejected{"1 2", "trailing characters at line 1 column 3"}));

INSTANTIATE_TEST_SUITE_P(
    Shape, RejectedAnswer,
    ::testing::Values(
        Rejected{"true",
                 "invalid type: boolean `true`, expected adjacently tagged enum Response "
                 "at line 1 column 1"},
        Rejected{R"( "ok")",
                 "invalid type: string \"ok\", expected adjacently tagged enum Response "
                 "at line 1 column 2"},
        Rejected{R"({"type":"nope"})",
                 "unknown variant `nope`, expected one of `welcome`, `hosts`, `exec`, "
                 "`transfer`, `ok`, `error` at line 1 column 9"},
        Rejected{R"({"type":1})",
                 "invalid type: integer `1`, expected variant identifier at line 1 column 9"},
        Rejected{R"({"data":{}})", "missing field `type` at line 1 column 11"},
        Rejected{R"({"type":"exec"})", "missing field `data` at line 1 column 15"},
        Rejected{R"({"type":"ok","type":"ok"})", "duplicate field `type` at line 1 column 21"},
        Rejected{R"({"data":null,"type":"ok","data":null})",
                 "duplicate field `data` at line 1 column 33"},
        Rejected{R"({"type":"ok","data":{}})",
                 "invalid type: map, expected unit at line 1 column 21"},
        Rejected{R"({"type":"welcome","data":null})",
                 "invalid type: null, expected struct Welcome at line 1 column 26"},
        Rejected{R"({"type":"hosts","data":{}})",
                 "invalid type: map, expected a sequence at line 1 column 24"}));

INSTANTIATE_TEST_SUITE_P(
    Records, RejectedAnswer,
    ::testing::Values(
        Rejected{R"({"type":"hosts","data":[{"id":"h1","name":"n","host":"h","port":22,)"
                 R"("protocol":"SSH"}]})",
                 "missing field `username` at line 1 column 84"},
        Rejected{R"({"type":"hosts","data":[{"id":"h1","name":"n","host":"h","port":70000,)"
                 R"("username":"u","protocol":"SSH"}]})",
                 "invalid value: integer `70000`, expected u16 at line 1 column 65"},
        Rejected{R"({"type":"hosts","data":[{"id":"h1","name":"n","host":"h","port":-1,)"
                 R"("username":"u","protocol":"SSH"}]})",
                 "invalid value: integer `-1`, expected u16 at line 1 column 65"},
        Rejected{R"({"type":"exec","data":{"exitCode":3000000000,"stdout":"","stderr":"",)"
                 R"("truncated":false,"durationMs":1}})",
                 "invalid value: integer `3000000000`, expected i32 at line 1 column 35"},
        Rejected{R"({"type":"exec","data":{"exitCode":0,"stdout":null,"stderr":"",)"
                 R"("truncated":false,"durationMs":1}})",
                 "invalid type: null, expected a string at line 1 column 46"},
        Rejected{R"({"type":"exec","data":{"exitCode":0,"stdout":"","stderr":"",)"
                 R"("truncated":1,"durationMs":1}})",
                 "invalid type: integer `1`, expected a boolean at line 1 column 73"},
        Rejected{R"({"type":"transfer","data":{"local":"a","remote":"b","bytes":1.5,)"
                 R"("durationMs":1}})",
                 "invalid type: floating point `1.5`, expected u64 at line 1 column 61"},
        Rejected{R"({"type":"transfer","data":{"local":"a","remote":"b","bytes":1.0,)"
                 R"("durationMs":1}})",
                 "invalid type: floating point `1.0`, expected u64 at line 1 column 61"},
        Rejected{R"({"type":"welcome","data":{"protocol":-1}})",
                 "invalid value: integer `-1`, expected u32 at line 1 column 38"},
        Rejected{R"({"type":"welcome","data":{"protocol":1,"protocol":2}})",
                 "duplicate field `protocol` at line 1 column 51"},
        Rejected{R"({"type":"welcome","data":{"protocol":1,"appVersion":null}})",
                 "invalid type: null, expected a string at line 1 column 53"},
        Rejected{R"({"type":"error","data":{"message":"m"}})",
                 "missing field `code` at line 1 column 38"},
        Rejected{"{\"type\":\"error\",\n\"data\":\n  {\"code\":7}}",
                 "invalid type: integer `7`, expected a string at line 3 column 11"}));

TEST(ResponseDecoding, ReportsTheParserFaultForBrokenJson) {
  for (const char* payload : {R"({"type":"ok")", R"({"type":"ok",})", R"({"type":tru})",
                              "{\"type\":\"o\xff\"}", R"({"type":"ok"}])"}) {
    auto response = decode_padded(payload);
    ASSERT_FALSE(response.has_value()) << payload;
    EXPECT_NE(response.error().find(" at line 1 column "), std::string::npos) << response.error();
  }
}

// Locating the fault walks the payload again; nesting as deep as a whole answer frame allows
// must be refused, not recursed into until the stack runs out.
TEST(ResponseDecoding, RejectsNestingAsDeepAsTheFrameLimit) {
  for (std::string_view open : {"[", "{\"a\":"}) {
    std::string payload;
    while (payload.size() < 16'777'216 - open.size())
      payload += open;
    auto response = decode_padded(payload);
    ASSERT_FALSE(response.has_value());
    EXPECT_NE(response.error().find(" at line 1 column "), std::string::npos);
  }
}

// Around the parser's depth limit the walk must stop on its own: in unoptimised builds the
// parser asserts when a container is entered at its maximum depth.
TEST(ResponseDecoding, RejectsNestingAroundTheParserDepthLimit) {
  const struct {
    std::string_view open;
    std::string_view close;  // empty: left unclosed
  } nestings[] = {{"[", ""}, {"[", "]"}, {"{\"a\":", ""}, {"{\"a\":", "}"}};
  for (const auto& [open, close] : nestings) {
    for (std::size_t depth : {1022UL, 1023UL, 1024UL, 1025UL}) {
      std::string payload;
      for (std::size_t level = 0; level < depth; ++level)
        payload += open;
      if (!close.empty()) payload += "0";
      for (std::size_t level = 0; !close.empty() && level < depth; ++level)
        payload += close;
      auto response = decode_padded(payload);
      ASSERT_FALSE(response.has_value()) << depth;
      EXPECT_NE(response.error().find(" at line 1 column "), std::string::npos) << depth;
    }
  }
}

TEST(ResponseDecoding, AcceptsAnAnswerOfTheWholeLimitPaddedWithWhiteSpace) {
  std::string payload = R"({"type":"ok"})";
  payload.resize(16'777'216, ' ');
  auto response = decode_padded(payload);
  ASSERT_TRUE(response.has_value()) << response.error();
  EXPECT_TRUE(std::holds_alternative<OkAnswer>(*response));
}

}  // namespace
}  // namespace pendrel
