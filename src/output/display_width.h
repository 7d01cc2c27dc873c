// The display width of text: how many terminal columns it takes, for aligning tables.
#pragma once

#include <cstddef>
#include <string_view>

namespace pendrel {

// Terminal columns of `text`. Every character below U+00A1 counts 1 (controls and tab too; a
// carriage return directly before a line feed counts 0), and so does the soft hyphen; East Asian
// Wide and Fullwidth count 2; combining marks, Hangul medial and final jamo, default-ignorable
// characters (zero-width format characters, variation selectors) count 0; U+17D8 counts 3;
// everything else counts 1. Emoji sequences (ZWJ, modifiers, presentation selectors, keycaps,
// flags) and the Arabic lam-alef ligature are measured as the one glyph a terminal draws. Bytes
// that are not UTF-8 count 1 each. Never fails.
[[nodiscard]] std::size_t display_width(std::string_view text);

}  // namespace pendrel
