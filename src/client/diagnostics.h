// The optional "[pendrel] " lines that show on standard error what the connect-or-launch
// sequence did and how long it took. Chinese only, in both output modes.
#pragma once

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string_view>

#include "protocol/environment.h"

namespace pendrel {

// Whole milliseconds from `start` to `end`, rounded down; a negative interval counts as 0.
[[nodiscard]] std::uint64_t elapsed_ms(std::chrono::steady_clock::time_point start,
                                       std::chrono::steady_clock::time_point end);

class Diagnostics {
 public:
  // On when PENDREL_LOG is set to any non-empty value ("0" and "false" included); the
  // environment is read here once. Lines go straight to `fd`, unbuffered, bypassing Output.
  explicit Diagnostics(const Environment& environment, int fd = STDERR_FILENO);

  [[nodiscard]] bool on() const { return on_; }

  // One method per line; each writes nothing while off. Write failures are ignored: a
  // diagnostic that cannot be shown must not change the command's outcome. Inserted texts
  // are shown with invalid UTF-8 as U+FFFD and control characters escaped (\n, \t,
  // \u001b...), so that each call writes exactly one line.
  void data_dir(std::string_view raw_path) const;
  void connected_to_running() const;
  void service_down(std::string_view reason) const;
  void auto_start_forbidden() const;
  void starting_headless() const;
  void launching(std::string_view executable) const;
  void connected_to_started(std::uint64_t ms) const;
  void sending(std::string_view label) const;
  void request_done(std::string_view label, std::uint64_t ms) const;
  void request_failed(std::string_view label, std::string_view code, std::uint64_t ms) const;
  void request_interrupted(std::string_view label, std::string_view message,
                           std::uint64_t ms) const;
  void connect_failed(std::string_view message, std::string_view code) const;

 private:
  void write(std::string_view line) const;

  bool on_;
  int fd_;
};

}  // namespace pendrel
