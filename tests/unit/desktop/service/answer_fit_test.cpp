// The frame limit holds for the worst exec output: control bytes escape sixfold.
#include "desktop/shared/service/answer_fit.h"

#include <gtest/gtest.h>
#include <simdjson.h>

#include "protocol/response_encoding.h"

namespace pendrel::desktop {
namespace {

std::expected<Response, std::string> decode(const std::string& payload) {
  std::string buffer = payload + std::string(simdjson::SIMDJSON_PADDING, '\0');
  return decode_response(std::string_view(buffer.data(), payload.size()));
}

TEST(AnswerFit, ExecOutputIsCutUntilTheAnswerFits) {
  struct Case {
    const char* name;
    std::string out, err;
    std::size_t limit;
    bool cut;
  };
  const Case cases[] = {
      // 3 MiB of control bytes per stream: 36 MiB escaped, over any 16 MiB frame.
      {"control bytes", std::string(3u << 20, '\x01'), std::string(3u << 20, '\x02'),
       max_answer_bytes, true},
      {"a character at the cut", std::string(50, 'a') + "\xE2\x82\xAC" + std::string(50, 'b'), "",
       150, true},
      {"already small", "ok\n", "", max_answer_bytes, false},
  };
  for (const auto& c : cases) {
    ExecResponse exec{0, c.out, c.err, false, 1};
    std::string encoded = encode_answer_within(exec, c.limit);
    EXPECT_LE(encoded.size(), c.limit) << c.name;
    auto decoded = decode(encoded);
    ASSERT_TRUE(decoded.has_value()) << c.name << ": " << decoded.error();
    const auto& fitted = std::get<ExecResponse>(*decoded);
    EXPECT_EQ(fitted.truncated, c.cut) << c.name;
    EXPECT_TRUE(c.out.starts_with(fitted.stdout_text)) << c.name;
    EXPECT_TRUE(c.err.starts_with(fitted.stderr_text)) << c.name;
    if (!c.cut) {
      EXPECT_EQ(encoded, encode_response(exec)) << c.name;
    }
  }
}

}  // namespace
}  // namespace pendrel::desktop
