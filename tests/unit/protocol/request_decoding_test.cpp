// The service-side codec: every request pendrel encodes decodes back to itself, every answer
// the service encodes decodes back through pendrel's decoder, and bad requests name the fault.
#include "protocol/request_decoding.h"

#include <gtest/gtest.h>
#include <simdjson.h>

#include "decode_padded.h"
#include "protocol/response_encoding.h"

namespace pendrel {
namespace {

std::string padded(std::string_view payload) {
  std::string buffer(payload);
  buffer.append(simdjson::SIMDJSON_PADDING, '\0');
  return buffer;
}

std::expected<Request, std::string> decode_padded_request(std::string_view payload) {
  std::string buffer = padded(payload);
  return decode_request(std::string_view(buffer.data(), payload.size()));
}

TEST(RequestDecoding, EveryEncodedRequestRoundTrips) {
  const std::vector<Request> requests = {
      ListHostsRequest{""},
      ListHostsRequest{"wéb\n"},
      ExecRequest{"web-1", "echo \"a\"\t\x01", TerminalMode::on, {"bash", "node"}},
      ExecRequest{"h", "", TerminalMode::off, {}},
      UploadRequest{{"h", "/tmp/a", "b/", {"sh"}}},
      DownloadRequest{{"h", "~/x", "/tmp/y", {}}},
      ActivateRequest{{"--x"}, {{"f", {0, 255, 7}}}},
      QuitRequest{},
  };
  for (const auto& request : requests) {
    std::string payload = encode_request(request);
    auto decoded = decode_padded_request(payload);
    ASSERT_TRUE(decoded.has_value()) << payload << ": " << decoded.error();
    EXPECT_EQ(encode_request(*decoded), payload);
  }
}

TEST(RequestDecoding, RejectsWithTheFaultNamed) {
  struct Case {
    const char* payload;
    const char* error;
  };
  const Case cases[] = {
      {"", "empty message"},
      {"{\"type\":\"exec\"", "not valid JSON"},
      {"{\"type\":\"quit\"} x", "not valid JSON"},
      {"[\"quit\"]", "expected an object"},
      {R"({"data":{}})", "`type`: missing"},
      {R"({"type":"rm"})", "`type`: unknown request kind \"rm\""},
      {R"({"type":"exec"})", "`data`: missing"},
      {R"({"type":"exec","type":"exec","data":{}})", "`type`: repeated key"},
      {R"({"type":"exec","data":{"host":"h"}})", "`data.command`: missing"},
      {R"({"type":"exec","data":{"host":1,"command":"x"}})", "`data.host`: expected a string"},
      {R"({"type":"exec","data":{"host":"h","command":"x","terminal":1}})",
       "`data.terminal`: expected true or false"},
      {R"({"type":"exec","data":{"host":"h","command":"x","caller":["a",null]}})",
       "`data.caller[1]`: expected a string"},
      {R"({"type":"upload","data":{"host":"h","local":"a"}})", "`data.remote`: missing"},
      {R"({"type":"activate","data":{"args":[],"files":[{"path":"p","data":[256]}]}})",
       "`data.files[0].data[0]`: expected an integer from 0 to 255"},
      {R"({"type":"quit","data":{}})", "`data`: expected nothing"},
      {"{\"type\":\"listHosts\",\"data\":{\"query\":\"\xff\"}}", "not valid JSON"},
  };
  for (const auto& c : cases) {
    auto decoded = decode_padded_request(c.payload);
    ASSERT_FALSE(decoded.has_value()) << c.payload;
    EXPECT_NE(decoded.error().find(c.error), std::string::npos)
        << c.payload << " gave " << decoded.error();
  }
}

TEST(HelloDecoding, ReadsTheProtocolAndDefaultsTheRest) {
  struct Case {
    const char* payload;
    bool accepted;
    std::uint32_t protocol;
    const char* lang;
  };
  const Case cases[] = {
      {R"({"protocol":1,"client":"pendrel 0.1.3","lang":"en"})", true, 1, "en"},
      {R"({"protocol":0})", true, 0, ""},
      {R"({"protocol":4294967296})", false, 0, ""},
      {R"({"protocol":-1})", false, 0, ""},
      {R"({"protocol":"1"})", false, 0, ""},
      {R"({"lang":"zh"})", false, 0, ""},
  };
  for (const auto& c : cases) {
    std::string buffer = padded(c.payload);
    auto hello = decode_hello(std::string_view(buffer.data(), std::strlen(c.payload)));
    ASSERT_EQ(hello.has_value(), c.accepted) << c.payload;
    if (!hello) continue;
    EXPECT_EQ(hello->protocol, c.protocol);
    EXPECT_EQ(hello->lang, c.lang);
  }
}

TEST(ResponseEncoding, EveryAnswerDecodesBackUnchanged) {
  const std::vector<Response> answers = {
      Welcome{1, "0.1.3"},
      HostsAnswer{{{"k3x9q2ma", "web-1", "10.0.0.5", 22, "deploy", "SSH"}}},
      HostsAnswer{},
      ExecResponse{-1, "out\x01\n", "é\"", true, 42},
      TransferResponse{"/tmp/a", "/srv/a", 12, 40},
      OkAnswer{},
      ErrorBody{"host_not_found", "no host \"x\""},
  };
  for (const auto& answer : answers) {
    std::string payload = encode_response(answer);
    auto decoded = testing::decode_padded(payload);
    ASSERT_TRUE(decoded.has_value()) << payload << ": " << decoded.error();
    EXPECT_EQ(debug_render(*decoded), debug_render(answer));
  }
  EXPECT_EQ(encode_response(OkAnswer{}), R"({"type":"ok"})");
}

}  // namespace
}  // namespace pendrel
