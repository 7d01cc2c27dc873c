// Telling a live link from a dead one while a request runs. A watchdog thread looks at how long
// the host has sent nothing (the kernel's count, so no libssh state is shared between threads)
// and shuts the socket down once that passes the host's bound: every libssh call blocked on the
// link then fails at once, where libssh 0.10's SFTP reads would retry for ever.
#pragma once

#include <libssh/libssh.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "protocol/messages.h"
#include "protocol/unique_fd.h"

namespace pendrel::desktop {

// How long the host has sent no data on `socket_fd`, as the kernel counts it.
[[nodiscard]] std::chrono::milliseconds host_quiet_for(int socket_fd);

// How many segments with data the host has sent on `socket_fd`: a count that moves exactly
// when an answer arrives, where the time above is only as fine as the kernel's clock tick.
[[nodiscard]] std::uint32_t host_data_segments(int socket_fd);

// How long a blocking libssh call may wait for the server before giving up by itself.
[[nodiscard]] std::chrono::milliseconds server_wait_limit(
    std::chrono::milliseconds dead_link_after);

class LinkWatchdog {
 public:
  // Watches the socket of the connected `session` (a descriptor of its own, so that libssh
  // closing its one never leaves this thread with a number someone else reuses).
  LinkWatchdog(ssh_session session, std::chrono::milliseconds dead_link_after);
  ~LinkWatchdog();
  LinkWatchdog(const LinkWatchdog&) = delete;
  LinkWatchdog& operator=(const LinkWatchdog&) = delete;

  // True once the link was found silent and shut down.
  [[nodiscard]] bool went_silent() const { return silent_; }

 private:
  void watch();

  UniqueFd socket_;
  std::chrono::milliseconds dead_link_after_;
  std::atomic<bool> silent_{false};
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;
};

// For a request whose own traffic may pause (a quiet command): asks the host for an answer
// when it has said nothing for a quarter of the bound, so a live host is never taken as dead.
// Blocks until the answer comes or the session's timeout passes.
void keep_link_talking(ssh_session session, std::chrono::milliseconds dead_link_after);

// keepalive@openssh.com without waiting for the answer, for a loop that must not block on the
// host. libssh keeps one global request pending: while it is, this call only reads what
// arrived (which ends it) and sends nothing, so a caller that probes every interval sends at
// most one keepalive per two calls. Leaves the session blocking.
void send_keepalive_without_waiting(ssh_session session);

// The connect_failed answer for a link that broke or went silent while `what` ran.
[[nodiscard]] ErrorBody link_lost(ssh_session session, std::chrono::milliseconds dead_link_after,
                                  bool went_silent, const char* what);

}  // namespace pendrel::desktop
