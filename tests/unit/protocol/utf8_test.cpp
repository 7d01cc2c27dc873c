#include "protocol/utf8.h"

#include <gtest/gtest.h>

namespace pendrel {
namespace {

constexpr std::string_view fffd = "\xEF\xBF\xBD";

std::string replacements(int count) {
  std::string text;
  for (int i = 0; i < count; ++i)
    text += fffd;
  return text;
}

TEST(IsValidUtf8, RejectsEveryKindOfIllFormedSequence) {
  EXPECT_TRUE(is_valid_utf8(""));
  EXPECT_TRUE(is_valid_utf8("plain 主机 🚀"));
  EXPECT_TRUE(is_valid_utf8("\xF4\x8F\xBF\xBF"));  // U+10FFFF
  for (std::string_view bad : {"\x80", "\xC0\xAF", "\xC2", "\xE0\x80\xAF", "\xED\xA0\x80",
                               "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xFF"}) {
    EXPECT_FALSE(is_valid_utf8(bad)) << ::testing::PrintToString(bad);
  }
}

struct DisplayCase {
  std::string_view bytes;
  std::string expected;
};

// Each maximal ill-formed subpart (the longest prefix of a possible well-formed sequence, or
// else one byte) becomes exactly one U+FFFD.
TEST(ToDisplayText, ReplacesEachMaximalSubpartOnce) {
  const DisplayCase cases[] = {
      {"plain 主机", "plain 主机"},
      {"\xFF"
       "frob",
       replacements(1) + "frob"},
      {"a\x80\x80z", "a" + replacements(2) + "z"},  // lone continuation bytes
      {"\xC0\xAF", replacements(2)},                // overlong lead: two subparts
      {"\xE0\x80\xAF", replacements(3)},            // E0 needs A0..BF next
      {"\xED\xA0\x80", replacements(3)},            // surrogate
      {"\xE4\xB8", replacements(1)},                // truncated at the end
      {"\xE4\xB8"
       "a",
       replacements(1) + "a"},  // truncated before ASCII
      {"\xF0\x9F\x9A"
       "a",
       replacements(1) + "a"},                // three of four bytes
      {"\xF4\x90\x80\x80", replacements(4)},  // above U+10FFFF
      {"\xF5\x80", replacements(2)},
      {"\xE4\xB8\xBB\xFF\xE6\x9C\xBA", "主" + replacements(1) + "机"},
      {"\xC2\xC2\xA0", replacements(1) + "\xC2\xA0"},  // a new lead ends the subpart
  };
  for (const DisplayCase& c : cases) {
    EXPECT_EQ(to_display_text(c.bytes), c.expected) << ::testing::PrintToString(c.bytes);
    EXPECT_TRUE(is_valid_utf8(to_display_text(c.bytes)));
  }
}

}  // namespace
}  // namespace pendrel
