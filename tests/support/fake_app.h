// Driving the fake desktop application (tests/fake_app) from end-to-end tests: where it is,
// what it recorded about its start, and ending it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace pendrel::testing {

// The built fake application (PENDREL_FAKE_APP).
[[nodiscard]] std::string fake_app_binary();

// What the fake application wrote to FAKE_APP_RECORD when it started.
struct FakeAppRecord {
  pid_t pid = 0;
  pid_t pgid = 0;
  std::vector<std::string> args;  // argv, argument zero included
  std::string stdio;              // "null null null" when 0-2 are all /dev/null
  std::vector<int> open_fds;      // descriptors above 2 it found open
};

// Waits for the record to appear; nothing when it does not within `timeout`.
[[nodiscard]] std::optional<FakeAppRecord> wait_for_record(
    const std::string& path, std::chrono::milliseconds timeout = std::chrono::seconds(5));

// Ends, when it goes away, the fake application that records to `record_path`, if one
// started (waiting briefly for its record), and returns once it has exited. Nothing else is
// signalled: the process must still lead its own group, as the fake application does.
class FakeAppGuard {
 public:
  explicit FakeAppGuard(std::string record_path) : record_path_(std::move(record_path)) {}
  ~FakeAppGuard();
  FakeAppGuard(const FakeAppGuard&) = delete;
  FakeAppGuard& operator=(const FakeAppGuard&) = delete;

 private:
  std::string record_path_;
};

// True while `pid` exists (kill with signal 0).
[[nodiscard]] bool process_alive(pid_t pid);

}  // namespace pendrel::testing
