#include "desktop/shared/service/stop_signal.h"

#include <poll.h>
#include <sys/eventfd.h>

#include <cstdint>

namespace pendrel::desktop {

StopSignal::StopSignal() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

void StopSignal::fire() const {
  std::uint64_t one = 1;
  // A full counter still leaves the descriptor readable, so a failed write changes nothing.
  (void)!::write(fd_.get(), &one, sizeof one);
}

bool StopSignal::fired() const {
  pollfd entry{fd_.get(), POLLIN, 0};
  return ::poll(&entry, 1, 0) > 0;
}

}  // namespace pendrel::desktop
