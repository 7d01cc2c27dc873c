#include "desktop/broker/ssh/ssh_error.h"

#include <cstdio>
#include <utility>

#include "protocol/capped_text.h"

namespace pendrel::desktop {

ErrorBody ssh_failure(ErrorCode code, std::string message) {
  return ErrorBody{std::string(info_for(code).name), std::move(message)};
}

std::string server_text(std::string_view text, std::size_t max_bytes) {
  OutputCapture capture(max_bytes);
  capture.append(text);
  CappedText capped = capture.finish();
  for (char& c : capped.text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  }
  if (capped.truncated) capped.text += "\u2026";
  return std::move(capped.text);
}

std::string seconds_text(std::chrono::milliseconds duration) {
  char text[32];
  std::snprintf(text, sizeof text, "%g s", std::chrono::duration<double>(duration).count());
  return text;
}

}  // namespace pendrel::desktop
