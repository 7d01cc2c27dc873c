#include "desktop/broker/ssh/link_watch.h"

#include <fcntl.h>
#include <libssh/server.h>
#include <netinet/in.h>
// The kernel's own tcp_info: glibc's copy lacks the count of data segments.
#include <linux/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <string>

#include "desktop/broker/ssh/ssh_error.h"

namespace pendrel::desktop {
namespace {

tcp_info kernel_view(int socket_fd) {
  tcp_info info{};
  socklen_t length = sizeof info;
  if (::getsockopt(socket_fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0) return tcp_info{};
  return info;
}

}  // namespace

std::chrono::milliseconds host_quiet_for(int socket_fd) {
  return std::chrono::milliseconds(kernel_view(socket_fd).tcpi_last_data_recv);
}

std::uint32_t host_data_segments(int socket_fd) {
  return kernel_view(socket_fd).tcpi_data_segs_in;
}

std::chrono::milliseconds server_wait_limit(std::chrono::milliseconds dead_link_after) {
  return dead_link_after * 3 / 4;
}

LinkWatchdog::LinkWatchdog(ssh_session session, std::chrono::milliseconds dead_link_after)
    : socket_(::fcntl(ssh_get_fd(session), F_DUPFD_CLOEXEC, 0)), dead_link_after_(dead_link_after) {
  if (socket_) thread_ = std::thread([this] { watch(); });
}

LinkWatchdog::~LinkWatchdog() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void LinkWatchdog::watch() {
  const auto look_every = std::clamp(dead_link_after_ / 8, std::chrono::milliseconds(50),
                                     std::chrono::milliseconds(1000));
  // A warm connection may have been idle for long before this request: silence counts from
  // the watch's start at the earliest.
  const auto started = std::chrono::steady_clock::now();
  std::unique_lock lock(mutex_);
  while (!wake_.wait_for(lock, look_every, [this] { return stopping_; })) {
    auto watched_for = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - started);
    if (std::min(host_quiet_for(socket_.get()), watched_for) < dead_link_after_) continue;
    silent_ = true;
    // Ends the blocked reads and sends of the request's thread; its own descriptor is closed
    // there, as always.
    ::shutdown(socket_.get(), SHUT_RDWR);
    return;
  }
}

void keep_link_talking(ssh_session session, std::chrono::milliseconds dead_link_after) {
  if (host_quiet_for(ssh_get_fd(session)) < dead_link_after / 4) return;
  // keepalive@openssh.com wants an answer (OpenSSH refuses it, which is an answer too).
  ssh_send_keepalive(session);
}

void send_keepalive_without_waiting(ssh_session session) {
  ssh_set_blocking(session, 0);
  ssh_send_keepalive(session);
  ssh_set_blocking(session, 1);
}

ErrorBody link_lost(ssh_session session, std::chrono::milliseconds dead_link_after,
                    bool went_silent, const char* what) {
  std::string cause = went_silent
                          ? "the host sent nothing for " + seconds_text(dead_link_after)
                          : std::string("the connection broke (") + ssh_get_error(session) + ")";
  return ssh_failure(ErrorCode::connect_failed, std::string(what) + " lost its link: " + cause +
                                                    "; check the network and the host");
}

}  // namespace pendrel::desktop
