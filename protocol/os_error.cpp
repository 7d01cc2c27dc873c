#include "protocol/os_error.h"

#include <string.h>

namespace pendrel {

std::string os_error_text(int error_number) {
  char buffer[256];
  // The GNU strerror_r may return a static string instead of filling the buffer.
  const char* description = strerror_r(error_number, buffer, sizeof buffer);
  std::string text(description);
  text += " (os error ";
  text += std::to_string(error_number);
  text += ')';
  return text;
}

}  // namespace pendrel
