#include "desktop/shared/audit/utc_time.h"

#include <ctime>

namespace pendrel::desktop {

std::string utc_timestamp(std::chrono::system_clock::time_point when) {
  auto since_epoch = std::chrono::floor<std::chrono::milliseconds>(when.time_since_epoch());
  auto seconds = std::chrono::floor<std::chrono::seconds>(since_epoch);
  auto millis = (since_epoch - seconds).count();
  std::time_t whole = static_cast<std::time_t>(seconds.count());
  std::tm parts{};
  ::gmtime_r(&whole, &parts);
  char text[40];
  std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
  std::snprintf(text + length, sizeof text - length, ".%03dZ", static_cast<int>(millis));
  return text;
}

}  // namespace pendrel::desktop
