#include "desktop/broker/ssh/tcp_connect.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "desktop/broker/ssh/ssh_error.h"
#include "protocol/os_error.h"

namespace pendrel::desktop {
namespace {

using Clock = std::chrono::steady_clock;

struct AddrInfoFree {
  void operator()(addrinfo* list) const { ::freeaddrinfo(list); }
};

std::string endpoint_text(const std::string& address, std::uint16_t port) {
  return address + " port " + std::to_string(port);
}

ErrorBody connect_failure(const std::string& address, std::uint16_t port,
                          const std::string& cause) {
  return ssh_failure(ErrorCode::connect_failed,
                     "cannot connect to " + endpoint_text(address, port) + ": " + cause +
                         "; check that the host is up and the address and port are right");
}

// Without these a blocked send waits for the kernel's retransmissions (about 15 minutes)
// and an idle dead link is probed only after 2 hours.
void bound_dead_link(int socket_fd, std::chrono::milliseconds dead_link_after) {
  int on = 1;
  auto user_timeout = static_cast<unsigned int>(dead_link_after.count());
  int probe_every = std::max(1, static_cast<int>(dead_link_after.count() / 4000));
  int probes = 3;
  ::setsockopt(socket_fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  ::setsockopt(socket_fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &user_timeout, sizeof user_timeout);
  ::setsockopt(socket_fd, IPPROTO_TCP, TCP_KEEPIDLE, &probe_every, sizeof probe_every);
  ::setsockopt(socket_fd, IPPROTO_TCP, TCP_KEEPINTVL, &probe_every, sizeof probe_every);
  ::setsockopt(socket_fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
}

// One non-blocking connect, waited for until `deadline`. Returns 0 or the errno.
int connect_one(const addrinfo& candidate, Clock::time_point deadline, UniqueFd& out) {
  UniqueFd socket_fd(::socket(candidate.ai_family,
                              candidate.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                              candidate.ai_protocol));
  if (!socket_fd) return errno;
  if (::connect(socket_fd.get(), candidate.ai_addr, candidate.ai_addrlen) != 0) {
    if (errno != EINPROGRESS) return errno;
    for (;;) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return ETIMEDOUT;
      pollfd waiting{socket_fd.get(), POLLOUT, 0};
      int ready = ::poll(&waiting, 1, static_cast<int>(left.count()));
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0) return errno;
      if (ready == 0) return ETIMEDOUT;
      break;
    }
    int result = 0;
    socklen_t length = sizeof result;
    if (::getsockopt(socket_fd.get(), SOL_SOCKET, SO_ERROR, &result, &length) != 0) return errno;
    if (result != 0) return result;
  }
  int flags = ::fcntl(socket_fd.get(), F_GETFL);
  if (flags < 0 || ::fcntl(socket_fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return errno;
  int on = 1;
  // Without NODELAY every small SFTP write waits for the peer's delayed ACK.
  ::setsockopt(socket_fd.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  out = std::move(socket_fd);
  return 0;
}

}  // namespace

std::expected<UniqueFd, ErrorBody> connect_tcp(const std::string& address, std::uint16_t port,
                                               std::chrono::milliseconds timeout,
                                               std::chrono::milliseconds dead_link_after) {
  const Clock::time_point deadline = Clock::now() + timeout;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  // No AI_ADDRCONFIG: on a machine with only loopback it hides 127.0.0.1 and ::1.
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  int status = ::getaddrinfo(address.c_str(), service.c_str(), &hints, &found);
  if (status != 0) {
    std::string cause = status == EAI_SYSTEM ? os_error_text(errno) : ::gai_strerror(status);
    return std::unexpected(
        connect_failure(address, port, "cannot resolve the name (" + cause + ")"));
  }
  std::unique_ptr<addrinfo, AddrInfoFree> list(found);

  int last_error = ETIMEDOUT;
  for (const addrinfo* candidate = list.get(); candidate != nullptr;
       candidate = candidate->ai_next) {
    if (Clock::now() >= deadline) break;
    UniqueFd connected;
    last_error = connect_one(*candidate, deadline, connected);
    if (last_error == 0) {
      bound_dead_link(connected.get(), dead_link_after);
      return connected;
    }
  }
  if (last_error == ETIMEDOUT) {
    return std::unexpected(
        connect_failure(address, port, "no answer within " + seconds_text(timeout)));
  }
  return std::unexpected(connect_failure(address, port, os_error_text(last_error)));
}

}  // namespace pendrel::desktop
