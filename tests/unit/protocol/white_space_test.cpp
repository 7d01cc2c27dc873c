#include "protocol/white_space.h"

#include <gtest/gtest.h>

namespace pendrel {
namespace {

TEST(TrimWhiteSpace, RemovesUnicodeWhiteSpaceAtBothEnds) {
  struct Case {
    std::string_view text;
    std::string_view expected;
  };
  const Case cases[] = {
      {"", ""},
      {" \t\n\v\f\r", ""},
      {" english ", "english"},
      {"\u3000中文\u3000", "中文"},
      {"\u0085\u00A0\u1680x\u2000\u200A\u2028\u2029\u202F\u205F", "x"},
      {"  a b  ", "a b"},                  // inner spaces stay
      {"\u200Bx\u200B", "\u200Bx\u200B"},  // zero-width space is not White_Space
      {"\uFEFFx", "\uFEFFx"},
      {"\u00A1", "\u00A1"},  // shares its lead byte with U+00A0
  };
  for (const Case& c : cases) {
    EXPECT_EQ(trim_white_space(c.text), c.expected) << ::testing::PrintToString(c.text);
  }
}

TEST(TrimWhiteSpace, ResultIsAViewIntoTheInput) {
  std::string_view text = "  en  ";
  std::string_view trimmed = trim_white_space(text);
  EXPECT_EQ(trimmed.data(), text.data() + 2);
}

}  // namespace
}  // namespace pendrel
