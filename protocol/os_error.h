// The text of an operating-system error: its description and " (os error N)".
#pragma once

#include <string>

namespace pendrel {

// For example "No such file or directory (os error 2)".
[[nodiscard]] std::string os_error_text(int error_number);

}  // namespace pendrel
