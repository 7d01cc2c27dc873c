#include "desktop/broker/console/pending_questions.h"

#include <algorithm>

namespace pendrel::desktop {

void PendingQuestions::add(AskEvent ask, Clock::time_point now) {
  if (std::any_of(waiting_.begin(), waiting_.end(),
                  [&](const Waiting& waiting) { return waiting.ask.id == ask.id; }))
    return;
  auto deadline = now + std::chrono::milliseconds(ask.wait_ms);
  waiting_.push_back({std::move(ask), deadline});
}

bool PendingQuestions::remove(std::uint64_t id) {
  auto found = std::find_if(waiting_.begin(), waiting_.end(),
                            [&](const Waiting& waiting) { return waiting.ask.id == id; });
  if (found == waiting_.end()) return false;
  waiting_.erase(found);
  return true;
}

const AskEvent* PendingQuestions::current() const {
  return waiting_.empty() ? nullptr : &waiting_.front().ask;
}

std::uint64_t PendingQuestions::seconds_left(Clock::time_point now) const {
  if (waiting_.empty() || waiting_.front().deadline <= now) return 0;
  auto left = std::chrono::ceil<std::chrono::seconds>(waiting_.front().deadline - now);
  return static_cast<std::uint64_t>(left.count());
}

}  // namespace pendrel::desktop
