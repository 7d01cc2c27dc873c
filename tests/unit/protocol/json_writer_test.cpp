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

TEST(JsonString, EveryControlCharacterIsEscaped) {
  const char* const expected[32] = {
      "\\u0000", "\\u0001", "\\u0002", "\\u0003", "\\u0004", "\\u0005", "\\u0006", "\\u0007",
      "\\b",     "\\t",     "\\n",     "\\u000b", "\\f",     "\\r",     "\\u000e", "\\u000f",
      "\\u0010", "\\u0011", "\\u0012", "\\u0013", "\\u0014", "\\u0015", "\\u0016", "\\u0017",
      "\\u0018", "\\u0019", "\\u001a", "\\u001b", "\\u001c", "\\u001d", "\\u001e", "\\u001f",
  };
  for (int c = 0; c < 32; ++c) {
    std::string text = "a";
    text += static_cast<char>(c);
    text += "z";
    EXPECT_EQ(as_json(text), std::string("\"a") + expected[c] + "z\"") << "control " << c;
  }
}

TEST(JsonString, PrintableAsciiOtherThanQuoteAndBackslashStaysRaw) {
  for (int c = 0x20; c < 0x7f; ++c) {
    if (c == '"' || c == '\\') continue;
    std::string text(1, static_cast<char>(c));
    EXPECT_EQ(as_json(text), "\"" + text + "\"") << "character " << c;
  }
}

TEST(JsonString, SolidusDelAndNonAsciiStayRaw) {
  EXPECT_EQ(as_json("/\x7f"), "\"/\x7f\"");
  EXPECT_EQ(as_json("主机 🚀"), "\"主机 🚀\"");
  EXPECT_EQ(as_json("\u2028\u00e9\u3000"), "\"\u2028\u00e9\u3000\"");
}

TEST(JsonString, EmptyTextAndRunsOfEscapes) {
  EXPECT_EQ(as_json(""), R"("")");
  EXPECT_EQ(as_json("\"\"\\\\"), R"("\"\"\\\\")");
  EXPECT_EQ(as_json("x\n"), R"("x\n")");
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
