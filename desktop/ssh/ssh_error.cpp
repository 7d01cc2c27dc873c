#include "desktop/ssh/ssh_error.h"

#include <cstdio>
#include <utility>

namespace pendrel::desktop {

ErrorBody ssh_failure(ErrorCode code, std::string message) {
  return ErrorBody{std::string(info_for(code).name), std::move(message)};
}

std::string seconds_text(std::chrono::milliseconds duration) {
  char text[32];
  std::snprintf(text, sizeof text, "%g s", std::chrono::duration<double>(duration).count());
  return text;
}

}  // namespace pendrel::desktop
