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

// Byte by byte, as the escaping is defined; the writer tests bytes in blocks.
std::string escaped_slowly(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    std::string one(1, c);
    out += as_json(one).substr(1, as_json(one).size() - 2);
  }
  return out + "\"";
}

TEST(JsonString, EscapesAtEveryPositionOfABlockAndAcrossBlocks) {
  // High bytes sit beside each escape: a signed comparison would take them for controls.
  const std::string specials[] = {"\"",   "\\",      "\n",           std::string(1, '\0'),
                                  "\x1f", "\x1b[0m", "\xe4\xb8\xad", "\x7f\x80\xff"};
  for (const std::string& special : specials) {
    for (std::size_t length : {15u, 16u, 17u, 31u, 33u, 64u}) {
      for (std::size_t at = 0; at + special.size() <= length; ++at) {
        std::string text(length, 'a');
        text.replace(at, special.size(), special);
        text[length - 1] = '\xc3';  // a high byte in the tail the blocks leave
        ASSERT_EQ(as_json(text), escaped_slowly(text)) << "length " << length << " at " << at;
      }
    }
  }
}

TEST(JsonWriter, DrainingInPiecesWritesTheSameText) {
  std::string long_text;
  for (int i = 0; i < 700; ++i)
    long_text += "ab\"\t\x01中";
  auto build = [&](JsonWriter& json) {
    json.begin_array();
    for (int i = 0; i < 3; ++i)
      json.begin_object().key("k").string(long_text).key("n").integer(i).end_object();
    json.string("").end_array();
  };
  JsonWriter whole;
  build(whole);
  for (std::size_t drain_at : {1u, 7u, 1000u, 1u << 20}) {
    std::string drained;
    JsonWriter pieces([&](std::string_view piece) { drained += piece; }, drain_at);
    build(pieces);
    drained += pieces.take_line();
    EXPECT_EQ(drained, whole.text() + "\n") << "drained at " << drain_at;
  }
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
