#include "desktop/broker/accounts/socket_relay.h"

#include "desktop/shared/link/descriptor_frames.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace pendrel::desktop {
namespace {

constexpr std::size_t chunk = 64 * 1024;

enum class Step { more, ended, failed };

// Moves what is readable on `from` to `to`, descriptors included.
Step pass_on(int from, int to, std::vector<char>& buffer) {
  // Owned here, so that they are closed once passed on, or when nothing could be.
  auto incoming = receive_with_descriptors(from, buffer.data(), buffer.size(), MSG_DONTWAIT);
  const ssize_t got = incoming.received;
  if (got < 0) return errno == EAGAIN || errno == EINTR ? Step::more : Step::failed;
  const std::vector<UniqueFd>& received = incoming.descriptors;
  if (got == 0) return Step::ended;
  std::vector<int> descriptors;
  for (const UniqueFd& fd : received)
    descriptors.push_back(fd.get());
  std::size_t sent_total = 0;
  bool first = true;
  Step result = Step::more;
  while (sent_total < static_cast<std::size_t>(got)) {
    // The descriptors go with the first piece only.
    std::span<const int> attached;
    if (first) attached = descriptors;
    ssize_t sent = send_with_descriptors(
        to,
        std::string_view(buffer.data() + sent_total, static_cast<std::size_t>(got) - sent_total),
        attached, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) {
        pollfd wait{to, POLLOUT, 0};
        ::poll(&wait, 1, 1000);
        continue;
      }
      result = Step::failed;
      break;
    }
    first = false;
    sent_total += static_cast<std::size_t>(sent);
  }
  return result;
}

}  // namespace

void relay_sockets(int a, int b, int stop_fd) {
  std::vector<char> buffer(chunk);
  bool open[2] = {true, true};  // a→b, b→a
  while (open[0] || open[1]) {
    // A direction that ended is not polled: its hang-up would keep poll from waiting.
    pollfd fds[3] = {
        {open[0] ? a : -1, POLLIN, 0}, {open[1] ? b : -1, POLLIN, 0}, {stop_fd, POLLIN, 0}};
    if (::poll(fds, 3, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[2].revents != 0) return;
    for (int side = 0; side < 2; ++side) {
      if (!open[side] || fds[side].revents == 0) continue;
      int from = side == 0 ? a : b;
      int to = side == 0 ? b : a;
      Step step = pass_on(from, to, buffer);
      if (step == Step::failed) return;
      if (step == Step::ended) {
        open[side] = false;
        ::shutdown(to, SHUT_WR);
      }
    }
    // A side that hung up altogether cannot take the other's answer either.
    for (int side = 0; side < 2; ++side) {
      if ((fds[side].revents & (POLLERR | POLLNVAL)) != 0) return;
    }
  }
}

}  // namespace pendrel::desktop
