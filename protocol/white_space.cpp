#include "protocol/white_space.h"

#include <array>

namespace pendrel {
namespace {

// The White_Space characters above ASCII, as UTF-8.
constexpr std::array<std::string_view, 19> wide_spaces{
    "\u0085", "\u00A0", "\u1680", "\u2000", "\u2001", "\u2002", "\u2003",
    "\u2004", "\u2005", "\u2006", "\u2007", "\u2008", "\u2009", "\u200A",
    "\u2028", "\u2029", "\u202F", "\u205F", "\u3000"};

bool is_ascii_space(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// Length of the white-space character at the front of `text`, or 0.
std::size_t leading_space_length(std::string_view text) {
  if (text.empty()) return 0;
  if (is_ascii_space(text.front())) return 1;
  for (std::string_view space : wide_spaces) {
    if (text.starts_with(space)) return space.size();
  }
  return 0;
}

std::size_t trailing_space_length(std::string_view text) {
  if (text.empty()) return 0;
  if (is_ascii_space(text.back())) return 1;
  for (std::string_view space : wide_spaces) {
    if (text.ends_with(space)) return space.size();
  }
  return 0;
}

}  // namespace

std::string_view trim_white_space(std::string_view text) {
  while (std::size_t length = leading_space_length(text))
    text.remove_prefix(length);
  while (std::size_t length = trailing_space_length(text))
    text.remove_suffix(length);
  return text;
}

}  // namespace pendrel
