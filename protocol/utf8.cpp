#include "protocol/utf8.h"

#include <simdjson.h>

#include <cstdint>

namespace pendrel {
namespace {

constexpr std::string_view replacement_character = "\xEF\xBF\xBD";

// Length of the well-formed sequence starting at `at`, or the length of the maximal
// ill-formed prefix negated (at least 1), following the Unicode table of well-formed bytes.
int sequence_length(std::string_view bytes, std::size_t at) {
  auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); };
  std::uint8_t lead = byte(at);
  if (lead < 0x80) return 1;
  int needed = 0;
  std::uint8_t low = 0x80;
  std::uint8_t high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    needed = 1;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    needed = 2;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    needed = 3;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return -1;
  }
  for (int i = 1; i <= needed; ++i) {
    std::size_t position = at + static_cast<std::size_t>(i);
    if (position >= bytes.size()) return -i;
    std::uint8_t next = byte(position);
    std::uint8_t min = i == 1 ? low : std::uint8_t{0x80};
    std::uint8_t max = i == 1 ? high : std::uint8_t{0xBF};
    if (next < min || next > max) return -i;
  }
  return needed + 1;
}

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
  return simdjson::validate_utf8(bytes.data(), bytes.size());
}

std::string to_display_text(std::string_view bytes) {
  if (is_valid_utf8(bytes)) return std::string(bytes);
  std::string text;
  text.reserve(bytes.size() + 8);
  std::size_t at = 0;
  while (at < bytes.size()) {
    int length = sequence_length(bytes, at);
    if (length > 0) {
      text.append(bytes.substr(at, static_cast<std::size_t>(length)));
      at += static_cast<std::size_t>(length);
    } else {
      text += replacement_character;
      at += static_cast<std::size_t>(-length);
    }
  }
  return text;
}

}  // namespace pendrel
