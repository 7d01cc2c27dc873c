#include "output/display_width.h"

#include <gtest/gtest.h>

#include <string>

namespace pendrel {
namespace {

struct WidthCase {
  const char* label;
  std::string text;
  std::size_t width;
};

void expect_widths(std::initializer_list<WidthCase> cases) {
  for (const WidthCase& c : cases)
    EXPECT_EQ(display_width(c.text), c.width) << c.label;
}

TEST(DisplayWidth, SingleCharacters) {
  expect_widths(
      {WidthCase{"empty", "", 0}, WidthCase{"ascii", "web-1", 5}, WidthCase{"tab", "\t", 1},
       WidthCase{"escape and nul", std::string("\x1b\0", 2), 2},
       WidthCase{"delete and C1 control", "\x7f\u0085", 2},
       WidthCase{"no-break space", "\u00a0", 1}, WidthCase{"soft hyphen is drawn", "\u00ad", 1},
       WidthCase{"two CJK ideographs", "名称", 4},
       WidthCase{"host name of ideographs, kana and ASCII", "生产-ビルド機-1", 15},
       // Marks after wide letters join them: the letters' quick count must not apply.
       WidthCase{"kana with combining voiced mark", "か\u3099き", 4},
       WidthCase{"ideograph with combining acute", "中\u0301", 2},
       WidthCase{"ideograph, variation selector", "葛\U000e0100", 2},
       WidthCase{"fullwidth form and ideographic space", "\uff01\u3000", 4},
       WidthCase{"ambiguous counts one", "\u00b1\u2460", 2},
       WidthCase{"combining acute", "e\u0301", 1}, WidthCase{"enclosing mark", "a\u20dd", 1},
       WidthCase{"hangul syllable from jamo", "\u1100\u1161\u11a8", 2},
       WidthCase{"extended medial jamo", "\u1100\ud7b0", 2},
       WidthCase{"choseong filler is wide", "\u115f", 2},
       WidthCase{"zero-width format characters", "a\u200b\u200c\u2060\ufeffb", 2},
       WidthCase{"variation selectors", "a\ufe00\U000e0100", 1},
       WidthCase{"khmer sign beyyal", "\u17d8", 3},
       WidthCase{"invalid bytes count one each", "a\xff\xfe", 3}});
}

TEST(DisplayWidth, SequencesAreOneGlyph) {
  expect_widths(
      {WidthCase{"CR LF counts one", "\r\n", 1}, WidthCase{"lone CR and LF", "\r\n\n\r", 3},
       WidthCase{"CR LF between ASCII", "a\r\nb\r", 4},
       WidthCase{"CR LF beside non-ASCII", "\r\n\u00e9\r\n", 3},
       WidthCase{"flag", "\U0001f1fa\U0001f1f8", 2},
       WidthCase{"two flags", "\U0001f1fa\U0001f1f8\U0001f1e9\U0001f1ea", 4},
       WidthCase{"family ZWJ sequence", "\U0001f468\u200d\U0001f469\u200d\U0001f467", 2},
       WidthCase{"skin tone modifier", "\U0001f44d\U0001f3fb", 2},
       WidthCase{"keycap", "1\ufe0f\u20e3", 2}, WidthCase{"keycap without selector", "#\u20e3", 2},
       WidthCase{"emoji presentation widens", "\u2764\ufe0f", 2},
       WidthCase{"text presentation narrows", "\u231a\ufe0e", 1},
       WidthCase{"selector after a plain letter", "a\ufe0f", 1},
       WidthCase{"lam-alef ligature", "\u0644\u0627", 1},
       WidthCase{"lam, mark, alef", "\u0644\u064e\u0627", 1},
       WidthCase{"alef alone after lam-alef", "\u0644\u0627\u0627", 2}});
}

}  // namespace
}  // namespace pendrel
