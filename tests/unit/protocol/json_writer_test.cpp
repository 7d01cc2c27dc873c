#include "protocol/json_writer.h"

#include <gtest/gtest.h>

namespace pendrel {
namespace {

std::string as_json(std::string_view text) {
  std::string out;
  append_json_string(out, text);
  return out;
}

TEST(JsonString, EscapesQuoteBackslashAndTheFiveNamedControls) {
  EXPECT_EQ(as_json("a\"b\\c"), R"("a\"b\\c")");
  EXPECT_EQ(as_json("\b\t\n\f\r"), R"("\b\t\n\f\r")");
}

TEST(JsonString, OtherControlsUseLowerCaseHex) {
  EXPECT_EQ(as_json(std::string("\0", 1)), R"("\u0000")");
  EXPECT_EQ(as_json("\x01\x0b\x1b\x1f"), R"("\u0001\u000b\u001b\u001f")");
}

TEST(JsonString, SolidusDelAndNonAsciiStayRaw) {
  EXPECT_EQ(as_json("/\x7f"), "\"/\x7f\"");
  EXPECT_EQ(as_json("主机 🚀"), "\"主机 🚀\"");
}

TEST(JsonWriter, PlacesCommasBetweenMembersAndElements) {
  JsonWriter json;
  json.begin_array();
  json.begin_object().key("a").integer(-1).key("b").boolean(false).end_object();
  json.begin_object().key("c").unsigned_integer(18446744073709551615u).end_object();
  json.end_array();
  EXPECT_EQ(json.text(), R"([{"a":-1,"b":false},{"c":18446744073709551615}])");
}

}  // namespace
}  // namespace pendrel
