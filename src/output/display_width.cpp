#include "output/display_width.h"

#include <utf8proc.h>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace pendrel {
namespace {

using CodePoint = std::int32_t;

constexpr CodePoint invalid_byte = -1;
constexpr CodePoint line_feed = 0x0A;
constexpr CodePoint carriage_return = 0x0D;
constexpr CodePoint zero_width_joiner = 0x200D;
constexpr CodePoint text_presentation = 0xFE0E;
constexpr CodePoint emoji_presentation = 0xFE0F;
constexpr CodePoint combining_keycap = 0x20E3;
constexpr CodePoint arabic_lam = 0x0644;
constexpr CodePoint soft_hyphen = 0x00AD;
constexpr CodePoint hangul_choseong_filler = 0x115F;

// Invalid bytes become `invalid_byte`, one per byte, so that they still take a column.
std::vector<CodePoint> decode(std::string_view text) {
  std::vector<CodePoint> code_points;
  code_points.reserve(text.size());
  const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
  auto remaining = static_cast<utf8proc_ssize_t>(text.size());
  while (remaining > 0) {
    CodePoint code_point = 0;
    utf8proc_ssize_t length = utf8proc_iterate(bytes, remaining, &code_point);
    if (length <= 0) {
      code_points.push_back(invalid_byte);
      length = 1;
    } else {
      code_points.push_back(code_point);
    }
    bytes += length;
    remaining -= length;
  }
  return code_points;
}

bool is_hangul_medial_or_final_jamo(CodePoint c) {
  return (c >= 0x1160 && c <= 0x11FF) || (c >= 0xD7B0 && c <= 0xD7FF);
}

bool is_arabic_alef(CodePoint c) {
  return c == 0x0622 || c == 0x0623 || c == 0x0625 || c == 0x0627;
}

bool is_nonspacing_or_enclosing_mark(const utf8proc_property_t& property) {
  return property.category == UTF8PROC_CATEGORY_MN || property.category == UTF8PROC_CATEGORY_ME;
}

std::size_t character_width(CodePoint c) {
  if (c < 0xA1) return 1;  // controls included: a tab in a cell takes one column
  // Terminals draw the soft hyphen; the Hangul choseong filler fills a wide cell.
  if (c == soft_hyphen) return 1;
  const utf8proc_property_t& property = *utf8proc_get_property(c);
  if ((property.ignorable && c != hangul_choseong_filler) ||
      is_nonspacing_or_enclosing_mark(property) || is_hangul_medial_or_final_jamo(c)) {
    return 0;
  }
  if (c == 0x17D8) return 3;
  return utf8proc_charwidth(c) == 2 ? 2 : 1;
}

bool is_pictographic(CodePoint c) {
  return c >= 0 &&
         utf8proc_get_property(c)->boundclass == UTF8PROC_BOUNDCLASS_EXTENDED_PICTOGRAPHIC;
}

bool is_regional_indicator(CodePoint c) {
  return c >= 0x1F1E6 && c <= 0x1F1FF;
}
bool is_emoji_modifier(CodePoint c) {
  return c >= 0x1F3FB && c <= 0x1F3FF;
}
bool is_keycap_base(CodePoint c) {
  return (c >= '0' && c <= '9') || c == '#' || c == '*';
}

// Sums the characters of one grapheme cluster, with the rules for lone CR LF and lam-alef.
std::size_t sum_of_characters(std::span<const CodePoint> cluster, bool& after_lam) {
  std::size_t width = 0;
  for (std::size_t i = 0; i < cluster.size(); ++i) {
    CodePoint c = cluster[i];
    if (c == carriage_return && i + 1 < cluster.size() && cluster[i + 1] == line_feed) continue;
    // The alef joins the lam before it (marks between them allowed) into one glyph.
    if (after_lam && is_arabic_alef(c)) {
      after_lam = false;
      continue;
    }
    std::size_t own = character_width(c);
    if (own != 0) after_lam = c == arabic_lam;
    width += own;
  }
  return width;
}

// The width of one extended grapheme cluster: emoji sequences are one glyph, 1 or 2 wide.
std::size_t cluster_width(std::span<const CodePoint> cluster, bool& after_lam) {
  const CodePoint base = cluster.front();
  if (cluster.size() >= 2) {
    if (is_regional_indicator(base) && is_regional_indicator(cluster[1])) {
      after_lam = false;
      return 2;
    }
    if (is_keycap_base(base) && cluster.back() == combining_keycap) {
      after_lam = false;
      return 2;
    }
    if (is_pictographic(base)) {
      after_lam = false;
      if (cluster[1] == text_presentation) return 1;
      for (CodePoint c : cluster.subspan(1)) {
        if (c == emoji_presentation || c == zero_width_joiner || is_emoji_modifier(c)) return 2;
      }
    }
  }
  return sum_of_characters(cluster, after_lam);
}

// ASCII text, most cells of a host table: every byte is a cluster of its own one column wide,
// except that a CR directly before an LF joins it and takes none.
std::optional<std::size_t> ascii_width(std::string_view text) {
  std::size_t joined = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto byte = static_cast<unsigned char>(text[i]);
    if (byte >= 0x80) return std::nullopt;
    if (byte == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++joined;
  }
  return text.size() - joined;
}

// Wide letters that are clusters of their own on both sides (grapheme break class Other, no
// marks among them): CJK unified ideographs, hiragana and katakana.
bool is_plain_wide_letter(CodePoint c) {
  return (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3041 && c <= 0x3096) ||
         (c >= 0x30A1 && c <= 0x30FA);
}

// Host names as people write them: printable ASCII and those wide letters only. Every boundary
// between such characters is a cluster break, so each counts alone; anything else (a mark, an
// emoji, a control, another script) is left to the full rules.
std::optional<std::size_t> plain_cjk_width(std::string_view text) {
  std::size_t width = 0;
  for (std::size_t i = 0; i < text.size();) {
    auto lead = static_cast<unsigned char>(text[i]);
    if (lead >= 0x20 && lead < 0x7F) {
      ++width;
      ++i;
      continue;
    }
    if ((lead & 0xF0) != 0xE0 || i + 3 > text.size()) return std::nullopt;
    auto second = static_cast<unsigned char>(text[i + 1]);
    auto third = static_cast<unsigned char>(text[i + 2]);
    if ((second & 0xC0) != 0x80 || (third & 0xC0) != 0x80) return std::nullopt;
    CodePoint c = ((lead & 0x0F) << 12) | ((second & 0x3F) << 6) | (third & 0x3F);
    if (!is_plain_wide_letter(c)) return std::nullopt;
    width += 2;
    i += 3;
  }
  return width;
}

}  // namespace

std::size_t display_width(std::string_view text) {
  if (auto width = ascii_width(text)) return *width;
  if (auto width = plain_cjk_width(text)) return *width;
  const std::vector<CodePoint> code_points = decode(text);
  std::size_t width = 0;
  bool after_lam = false;
  std::size_t start = 0;
  utf8proc_int32_t state = 0;
  for (std::size_t i = 1; i <= code_points.size(); ++i) {
    bool at_end = i == code_points.size();
    // Invalid bytes are clusters of their own.
    if (!at_end && code_points[i - 1] != invalid_byte && code_points[i] != invalid_byte &&
        !utf8proc_grapheme_break_stateful(code_points[i - 1], code_points[i], &state)) {
      continue;
    }
    width += cluster_width(std::span(code_points).subspan(start, i - start), after_lam);
    start = i;
    state = 0;
  }
  return width;
}

}  // namespace pendrel
