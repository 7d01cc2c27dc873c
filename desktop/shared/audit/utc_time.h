// Timestamps of the log lines: UTC with milliseconds, as 2026-12-08T03:04:05.678Z.
#pragma once

#include <chrono>
#include <string>

namespace pendrel::desktop {

[[nodiscard]] std::string utc_timestamp(std::chrono::system_clock::time_point when);

}  // namespace pendrel::desktop
