// A password received on the admin socket: read correctly, escapes included, and wiped from
// the parser's buffer once taken into guarded memory.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "desktop/shared/service/admin_password.h"

namespace pendrel::desktop {
namespace {

PaddedPayload padded(std::string_view text) {
  PaddedPayload frame;
  frame.bytes = std::make_unique<char[]>(text.size() + simdjson::SIMDJSON_PADDING);
  std::memcpy(frame.bytes.get(), text.data(), text.size());
  frame.size = text.size();
  return frame;
}

bool parser_holds(const ParsedObject& parsed, std::string_view secret, std::size_t within) {
  std::string_view buffer(reinterpret_cast<const char*>(parsed.parser.doc.string_buf.get()),
                          within);
  return buffer.find(secret) != std::string_view::npos;
}

TEST(AdminPassword, TakenIntoGuardedMemoryAndWipedFromTheParser) {
  const std::string request = R"({"op":"unlock","password":"hunter\"2\u00e9-secret"})";
  PaddedPayload frame = padded(request);
  ParsedObject parsed;
  ASSERT_TRUE(parse_admin_request(frame, parsed));
  const std::string_view unescaped = "hunter\"2\xc3\xa9-secret";
  // The strings are unescaped one after another from the buffer's start, each after a 4-byte
  // length; the buffer holds at least the request's size and the padding.
  const std::size_t used = request.size() + simdjson::SIMDJSON_PADDING;
  ASSERT_TRUE(parser_holds(parsed, unescaped, used));
  auto password = take_password(parsed);
  ASSERT_TRUE(password);
  EXPECT_EQ(password->view(), unescaped);
  EXPECT_FALSE(parser_holds(parsed, unescaped, used));
}

TEST(AdminPassword, RefusesWhatIsNotOne) {
  for (std::string_view request : {R"({"op":"unlock"})", R"({"op":"unlock","password":7})"}) {
    PaddedPayload frame = padded(request);
    ParsedObject parsed;
    ASSERT_TRUE(parse_admin_request(frame, parsed)) << request;
    EXPECT_FALSE(take_password(parsed)) << request;
  }
  PaddedPayload frame = padded(R"({"op":)");
  ParsedObject parsed;
  EXPECT_FALSE(parse_admin_request(frame, parsed));
}

}  // namespace
}  // namespace pendrel::desktop
