// What ends a running request early: descriptors that become readable or hang up when the
// caller is gone (its connection) or the service stops.
#pragma once

#include <vector>

namespace pendrel::desktop {

struct CancelWatch {
  // Polled with POLLIN|POLLRDHUP alongside the work; any event on any of them cancels.
  std::vector<int> fds;
};

}  // namespace pendrel::desktop
