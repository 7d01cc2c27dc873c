// How a transfer's size and duration read in its result line.
#pragma once

#include <cstdint>
#include <string>

#include "i18n/language.h"

namespace pendrel {

// "0 B" .. "1023 B", then one decimal in KB, MB, GB or TB (1024 each; TB is the last unit).
// The unit is chosen before rounding, so 1048575 bytes read "1024.0 KB".
[[nodiscard]] std::string size_text(std::uint64_t bytes);

// Seconds with one decimal, "0.9s" or "0.9 秒".
[[nodiscard]] std::string duration_text(std::uint64_t milliseconds, Language language);

}  // namespace pendrel
