#include "client/startup_wait.h"

#include <gtest/gtest.h>

#include <vector>

namespace pendrel::testing {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// A clock that moves only when the loop sleeps (plus what each attempt is said to cost),
// recording every attempt's time and every pause.
struct FakeTime {
  steady_clock::time_point now = steady_clock::time_point() + std::chrono::hours(1);
  milliseconds attempt_cost{0};
  std::vector<milliseconds> sleeps;
  std::vector<steady_clock::time_point> attempts;

  MonotonicClock clock() {
    return MonotonicClock{[this] { return now; },
                          [this](milliseconds pause) {
                            sleeps.push_back(pause);
                            now += pause;
                          }};
  }
};

ConnectError not_running() {
  return ConnectError{};
}

struct Script {
  FakeTime& time;
  int connect_on_attempt = 0;  // 0: never
  int marker_on_attempt = 0;
  int io_error_on_attempt = 0;

  StartupProbe probe() {
    return StartupProbe{[this]() -> std::expected<Connection, ConnectError> {
                          time.attempts.push_back(time.now);
                          time.now += time.attempt_cost;
                          const auto attempt = static_cast<int>(time.attempts.size());
                          if (attempt == connect_on_attempt)
                            return Connection{UniqueFd(), "1.0", 1};
                          if (attempt == io_error_on_attempt) {
                            ConnectError error;
                            error.kind = ConnectError::Kind::io;
                            error.io = IoError::from_errno(EACCES);
                            return std::unexpected(error);
                          }
                          return std::unexpected(not_running());
                        },
                        [this]() -> std::optional<std::string> {
                          if (static_cast<int>(time.attempts.size()) == marker_on_attempt)
                            return "disk full";
                          return std::nullopt;
                        }};
  }
};

TEST(StartupWait, FirstAttemptAtOnceThenEveryPauseUntilTheDeadline) {
  FakeTime time;
  Script script{time};
  const auto started = time.now;
  auto result = wait_for_started_app(time.clock(), script.probe(), started);
  ASSERT_FALSE(result);
  EXPECT_TRUE(std::holds_alternative<TimedOut>(result.error()));
  // Attempts at 0, 100, ..., 10000 ms: the one at the deadline still runs, then it ends.
  ASSERT_EQ(time.attempts.size(), 101u);
  EXPECT_EQ(time.attempts.front(), started);
  EXPECT_EQ(time.attempts.back(), started + launch_wait);
  EXPECT_EQ(time.sleeps.size(), 100u);
  for (auto pause : time.sleeps)
    EXPECT_EQ(pause, retry_pause);
}

TEST(StartupWait, SlowAttemptsCountAgainstTheDeadline) {
  FakeTime time;
  time.attempt_cost = milliseconds(900);
  Script script{time};
  auto result = wait_for_started_app(time.clock(), script.probe(), time.now);
  ASSERT_FALSE(result);
  EXPECT_TRUE(std::holds_alternative<TimedOut>(result.error()));
  // Every round costs 1 s: attempts start at 0, 1, ..., 10 s; the last one ends past the deadline.
  EXPECT_EQ(time.attempts.size(), 11u);
}

TEST(StartupWait, EndsAtOnce) {
  {
    FakeTime time;
    Script script{.time = time, .connect_on_attempt = 4};
    auto result = wait_for_started_app(time.clock(), script.probe(), time.now);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->app_version, "1.0");
    EXPECT_EQ(time.sleeps.size(), 3u);
  }
  {
    FakeTime time;
    Script script{.time = time, .marker_on_attempt = 3};
    auto result = wait_for_started_app(time.clock(), script.probe(), time.now);
    ASSERT_FALSE(result);
    ASSERT_TRUE(std::holds_alternative<ServiceDown>(result.error()));
    EXPECT_EQ(std::get<ServiceDown>(result.error()).reason, "disk full");
    EXPECT_EQ(time.attempts.size(), 3u);
  }
  {
    FakeTime time;
    Script script{.time = time, .io_error_on_attempt = 2};
    auto result = wait_for_started_app(time.clock(), script.probe(), time.now);
    ASSERT_FALSE(result);
    ASSERT_TRUE(std::holds_alternative<ConnectError>(result.error()));
    EXPECT_EQ(std::get<ConnectError>(result.error()).kind, ConnectError::Kind::io);
    EXPECT_EQ(time.attempts.size(), 2u);
  }
}

TEST(StartupWait, SystemSleepLastsTheWholePause) {
  auto clock = MonotonicClock::system();
  const auto before = clock.now();
  clock.sleep(milliseconds(20));
  EXPECT_GE(clock.now() - before, milliseconds(20));
}

}  // namespace
}  // namespace pendrel::testing
