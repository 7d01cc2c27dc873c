#include "support/durations.h"

#include <string_view>

namespace pendrel::testing {

std::string without_durations(const std::string& text) {
  constexpr std::string_view unit = " ms";
  std::string masked;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t digits_end = at;
    while (digits_end < text.size() && text[digits_end] >= '0' && text[digits_end] <= '9') {
      ++digits_end;
    }
    if (digits_end > at && std::string_view(text).substr(digits_end).starts_with(unit)) {
      masked += '#';
      at = digits_end;
    } else if (digits_end > at) {
      masked.append(text, at, digits_end - at);
      at = digits_end;
    } else {
      masked += text[at++];
    }
  }
  return masked;
}

}  // namespace pendrel::testing
