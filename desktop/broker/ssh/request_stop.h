// When a running SSH request must end early: its caller went away, or it outlived the host's
// time limit; and the canceled answer that says which.
#pragma once

#include <chrono>
#include <optional>

#include "desktop/front/runner/cancel_watch.h"
#include "protocol/messages.h"

namespace pendrel::desktop {

enum class StopReason { none, caller_gone, time_limit };

class RequestStop {
 public:
  using Clock = std::chrono::steady_clock;

  RequestStop(const CancelWatch& cancel, std::optional<std::chrono::seconds> max_duration,
              Clock::time_point started);

  // Polls the cancel descriptors without waiting; once a reason is found it stays.
  [[nodiscard]] StopReason check();
  // Marks the caller as gone (a cancel descriptor fired in someone else's poll).
  void note_caller_gone();

  // How long a poll may wait before the time limit needs looking at; `cap` when there is none.
  [[nodiscard]] std::chrono::milliseconds wait_at_most(std::chrono::milliseconds cap) const;

  // The canceled answer for `reason`; `what` names the work ("the remote command").
  [[nodiscard]] ErrorBody failure(StopReason reason, const char* what) const;

 private:
  const CancelWatch& cancel_;
  std::optional<std::chrono::seconds> max_duration_;
  Clock::time_point started_;
  StopReason reason_ = StopReason::none;
};

}  // namespace pendrel::desktop
