// The rule matches waiting for the person at this console, oldest first, with their deadlines.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>

#include "desktop/broker/console/console_events.h"

namespace pendrel::desktop {

class PendingQuestions {
 public:
  using Clock = std::chrono::steady_clock;

  // A question asked again (a console attaching is sent every waiting one) is not added twice.
  void add(AskEvent ask, Clock::time_point now);
  // True when `id` was waiting here.
  bool remove(std::uint64_t id);

  // The one the keys act on: the oldest still waiting.
  [[nodiscard]] const AskEvent* current() const;
  [[nodiscard]] std::size_t size() const { return waiting_.size(); }
  // Whole seconds left for the current question, rounded up (0 once its time is over: the
  // service says so in a moment).
  [[nodiscard]] std::uint64_t seconds_left(Clock::time_point now) const;

 private:
  struct Waiting {
    AskEvent ask;
    Clock::time_point deadline;
  };
  std::deque<Waiting> waiting_;
};

}  // namespace pendrel::desktop
