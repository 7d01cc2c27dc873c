// A one-way switch for stopping: an eventfd that becomes readable, and stays readable, once
// fired, so that any number of threads can poll it alongside their own descriptors.
#pragma once

#include "protocol/unique_fd.h"

namespace pendrel::desktop {

class StopSignal {
 public:
  StopSignal();

  // Async-signal-safe: a signal handler may call it.
  void fire() const;
  [[nodiscard]] bool fired() const;
  // Readable once fired; never read from, so it stays readable.
  [[nodiscard]] int fd() const { return fd_.get(); }

 private:
  UniqueFd fd_;
};

}  // namespace pendrel::desktop
