// Parsing of the unsigned decimal numbers found in process and marker files.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace pendrel {

// Decimal digits with at most one leading "+", no larger than 4294967295; nothing otherwise
// (no "-", no spaces, no empty text).
[[nodiscard]] std::optional<std::uint32_t> parse_decimal_u32(std::string_view text);

}  // namespace pendrel
