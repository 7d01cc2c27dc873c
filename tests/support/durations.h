// Masks the timings in diagnostic lines so tests can compare them exactly.
#pragma once

#include <string>

namespace pendrel::testing {

// Every run of digits followed by " ms" becomes "# ms".
[[nodiscard]] std::string without_durations(const std::string& text);

}  // namespace pendrel::testing
