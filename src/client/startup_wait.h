// The wait for a desktop application that we have just started: connection attempts every
// retry_pause until launch_wait has passed, cut short by a live marker or an OS error.
#pragma once

#include <chrono>
#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <variant>

#include "protocol/handshake.h"

namespace pendrel {

inline constexpr std::chrono::milliseconds launch_wait{10'000};
inline constexpr std::chrono::milliseconds retry_pause{100};

// The monotonic clock and the sleep, replaceable so the loop can be tested without waiting.
struct MonotonicClock {
  std::function<std::chrono::steady_clock::time_point()> now;
  // Sleeps the whole duration; a sleep interrupted by a signal resumes for the rest.
  std::function<void(std::chrono::milliseconds)> sleep;

  // CLOCK_MONOTONIC and clock_nanosleep.
  [[nodiscard]] static MonotonicClock system();
};

// What one round of the loop consults besides the clock.
struct StartupProbe {
  std::function<std::expected<Connection, ConnectError>()> connect;
  // The reason of a live unavailability marker, or nothing.
  std::function<std::optional<std::string>()> live_marker;
};

// Why the wait ended without a connection.
struct ServiceDown {
  std::string reason;
};
struct TimedOut {};
using StartupFailure = std::variant<ConnectError, ServiceDown, TimedOut>;

// Attempts at once, then after every pause, until a connection is made; any ConnectError
// but not_running, or a live marker, ends the wait at once; not_running at or past
// started_at + launch_wait ends it as TimedOut.
[[nodiscard]] std::expected<Connection, StartupFailure> wait_for_started_app(
    const MonotonicClock& clock, const StartupProbe& probe,
    std::chrono::steady_clock::time_point started_at);

}  // namespace pendrel
