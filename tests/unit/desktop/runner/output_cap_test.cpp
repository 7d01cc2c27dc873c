#include <gtest/gtest.h>

#include "desktop/front/runner/local_exec.h"
#include "protocol/capped_text.h"

namespace pendrel {
namespace {

TEST(OutputCapture, CutsAtTheBoundOnACharacterAndReplacesBadBytes) {
  const std::string euro = "\xE2\x82\xAC";  // three bytes
  struct Case {
    std::string name;
    std::vector<std::string> chunks;
    std::size_t max;
    std::string text;
    bool truncated;
  } cases[] = {
      {"fits exactly", {"abcd"}, 4, "abcd", false},
      {"one byte over", {"abcd", "e"}, 4, "abcd", true},
      {"far over, in pieces", {"ab", "cd", "efghijkl", "mnop"}, 4, "abcd", true},
      {"a character across the bound is left out whole", {"ab" + euro}, 4, "ab", true},
      {"a character ending on the bound stays", {"a" + euro + "z"}, 4, "a" + euro, true},
      {"a character split between chunks", {"a\xE2", "\x82\xAC"}, 8, "a" + euro, false},
      {"bad bytes become U+FFFD",
       {"a\xFF"
        "b"},
       8,
       "a\xEF\xBF\xBD"
       "b",
       false},
      {"an unfinished character at the real end is bad", {"a\xE2\x82"}, 8, "a\xEF\xBF\xBD", false},
      {"a replacement never crosses the bound", {"ab\xFF"}, 4, "ab", true},
      {"nothing", {}, 4, "", false},
  };
  for (const auto& c : cases) {
    OutputCapture capture(c.max);
    for (const auto& chunk : c.chunks)
      capture.append(chunk);
    CappedText capped = capture.finish();
    EXPECT_EQ(capped.text, c.text) << c.name;
    EXPECT_EQ(capped.truncated, c.truncated) << c.name;
  }
}

}  // namespace
}  // namespace pendrel
