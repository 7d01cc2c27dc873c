#include "protocol/decimal.h"

#include <charconv>

namespace pendrel {

std::optional<std::uint32_t> parse_decimal_u32(std::string_view text) {
  if (text.starts_with('+')) text.remove_prefix(1);
  // from_chars itself accepts neither sign, so "+-1" and "++1" fail here.
  if (text.empty()) return std::nullopt;
  std::uint32_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace pendrel
