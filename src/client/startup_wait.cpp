#include "client/startup_wait.h"

#include <time.h>

#include <cerrno>

namespace pendrel {
namespace {

void sleep_monotonic(std::chrono::milliseconds duration) {
  auto seconds = std::chrono::duration_cast<std::chrono::seconds>(duration);
  auto rest = std::chrono::duration_cast<std::chrono::nanoseconds>(duration - seconds);
  timespec remaining{static_cast<time_t>(seconds.count()), static_cast<long>(rest.count())};
  // clock_nanosleep returns the error instead of setting errno, and fills what is left when
  // a signal interrupts it.
  while (::clock_nanosleep(CLOCK_MONOTONIC, 0, &remaining, &remaining) == EINTR) {
  }
}

}  // namespace

MonotonicClock MonotonicClock::system() {
  // steady_clock is CLOCK_MONOTONIC with the GNU library.
  return MonotonicClock{[] { return std::chrono::steady_clock::now(); }, sleep_monotonic};
}

std::expected<Connection, StartupFailure> wait_for_started_app(
    const MonotonicClock& clock, const StartupProbe& probe,
    std::chrono::steady_clock::time_point started_at) {
  const auto deadline = started_at + launch_wait;
  while (true) {
    auto attempt = probe.connect();
    if (attempt) return std::move(*attempt);
    if (attempt.error().kind != ConnectError::Kind::not_running) {
      return std::unexpected(StartupFailure(std::move(attempt.error())));
    }
    if (auto reason = probe.live_marker()) {
      return std::unexpected(StartupFailure(ServiceDown{std::move(*reason)}));
    }
    if (clock.now() >= deadline) return std::unexpected(StartupFailure(TimedOut{}));
    clock.sleep(retry_pause);
  }
}

}  // namespace pendrel
