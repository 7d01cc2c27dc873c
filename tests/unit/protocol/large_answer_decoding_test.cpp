#include <simdjson.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "decode_padded.h"
#include "protocol/response_decoding.h"

namespace pendrel {
namespace {

// An answer read from its frame buffer, which the decoder frees early once it is large.
std::expected<Response, std::string> decode_from_frame(const std::string& payload) {
  auto frame = std::make_unique<char[]>(payload.size() + simdjson::SIMDJSON_PADDING);
  std::memcpy(frame.get(), payload.data(), payload.size());
  return decode_response(std::move(frame), payload.size());
}

std::string outcome(const std::expected<Response, std::string>& decoded) {
  return decoded ? "ok " + debug_render(*decoded) : "error " + decoded.error();
}

TEST(LargeAnswer, DecodedFromItsFrameExactlyAsFromText) {
  const std::string big(9u << 20, 'x');
  const std::string exec_head = R"({"type":"exec","data":{"exitCode":3,"stdout":")" + big + "\"";
  const std::string host = R"({"id":"h","name":")" + big + R"(","host":"a","port":22,)";
  const std::string payloads[] = {
      exec_head + R"(,"stderr":"e\n","truncated":true,"durationMs":7}})",
      exec_head + R"(,"stderr":"","truncated":"no","durationMs":7}})",
      exec_head + R"(,"stderr":"","truncated":true}})",
      exec_head + R"(,"stdout":"","stderr":"","truncated":true,"durationMs":7}})",
      exec_head + R"(,"stderr":"","truncated":true,"durationMs":7})",
      R"({"type":"hosts","data":[)" + host + R"("username":"u","protocol":"ssh"}]})",
      R"({"type":"hosts","data":[)" + host + R"("username":"u","protocol":9}]})",
      R"({"type":"hosts","data":[)" + host + R"("username":"u"},{}]})",
  };
  for (const std::string& payload : payloads) {
    std::string expected = outcome(testing::decode_padded(payload));
    std::string got = outcome(decode_from_frame(payload));
    // The outcome for the big string itself is long; its end says which case failed.
    ASSERT_EQ(got, expected) << payload.substr(payload.size() - 60);
  }
  EXPECT_EQ(std::get<ExecResponse>(*decode_from_frame(payloads[0])).stdout_text, big);
}

}  // namespace
}  // namespace pendrel
