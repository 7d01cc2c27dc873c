#include "desktop/broker/ssh/request_stop.h"

#include <poll.h>

#include <string>
#include <vector>

#include "desktop/broker/ssh/ssh_error.h"

namespace pendrel::desktop {

RequestStop::RequestStop(const CancelWatch& cancel,
                         std::optional<std::chrono::seconds> max_duration,
                         Clock::time_point started)
    : cancel_(cancel), max_duration_(max_duration), started_(started) {}

StopReason RequestStop::check() {
  if (reason_ != StopReason::none) return reason_;
  if (!cancel_.fds.empty()) {
    std::vector<pollfd> watched;
    for (int fd : cancel_.fds)
      watched.push_back({fd, POLLIN | POLLRDHUP, 0});
    if (::poll(watched.data(), watched.size(), 0) > 0) reason_ = StopReason::caller_gone;
  }
  if (reason_ == StopReason::none && max_duration_ && Clock::now() - started_ >= *max_duration_) {
    reason_ = StopReason::time_limit;
  }
  return reason_;
}

void RequestStop::note_caller_gone() {
  if (reason_ == StopReason::none) reason_ = StopReason::caller_gone;
}

std::chrono::milliseconds RequestStop::wait_at_most(std::chrono::milliseconds cap) const {
  if (!max_duration_) return cap;
  auto left =
      std::chrono::ceil<std::chrono::milliseconds>(started_ + *max_duration_ - Clock::now());
  if (left.count() < 0) return std::chrono::milliseconds(0);
  return std::min(left, cap);
}

ErrorBody RequestStop::failure(StopReason reason, const char* what) const {
  if (reason == StopReason::time_limit) {
    return ssh_failure(ErrorCode::canceled,
                       std::string(what) + " ran longer than the host's time limit of " +
                           std::to_string(max_duration_ ? max_duration_->count() : 0) +
                           " s and was stopped; make the work shorter, or raise the limit "
                           "with pendrel-desktop host set HOST --max-duration SECONDS|off");
  }
  return ssh_failure(ErrorCode::canceled,
                     std::string(what) + " was stopped because its caller went away");
}

}  // namespace pendrel::desktop
