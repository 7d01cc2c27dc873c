#include "support/cuttable_link.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "support/loopback.h"

namespace pendrel::testing {
namespace {

bool write_all(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

}  // namespace

CuttableLink::CuttableLink(std::uint16_t server_port) : server_port_(server_port) {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = loopback(0);
  socklen_t length = sizeof address;
  if (listener_ < 0 ||
      ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener_, 16) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      ::pipe2(wake_, O_CLOEXEC) != 0) {
    throw std::runtime_error("cannot start the relay");
  }
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { run(); });
}

CuttableLink::~CuttableLink() {
  stopping_ = true;
  char byte = 0;
  (void)!::write(wake_[1], &byte, 1);
  thread_.join();
  for (const Pair& pair : pairs_) {
    ::close(pair.client);
    ::close(pair.server);
  }
  ::close(listener_);
  ::close(wake_[0]);
  ::close(wake_[1]);
}

void CuttableLink::cut() {
  {
    std::lock_guard lock(mutex_);
    for (Pair& pair : pairs_)
      pair.cut = true;
  }
  char byte = 0;
  (void)!::write(wake_[1], &byte, 1);
}

void CuttableLink::cut_after(LinkSide side, std::uint64_t bytes) {
  std::lock_guard lock(mutex_);
  cut_side_ = side;
  cut_bytes_ = bytes;
}

void CuttableLink::accept_one() {
  int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
  if (client < 0) return;
  int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = loopback(server_port_);
  if (server < 0 || ::connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(client);
    if (server >= 0) ::close(server);
    return;
  }
  std::lock_guard lock(mutex_);
  pairs_.push_back(Pair{client, server});
  ++seen_;
}

bool CuttableLink::forward(Pair& pair, bool from_client) {
  char buffer[64 * 1024];
  ssize_t got = ::recv(from_client ? pair.client : pair.server, buffer, sizeof buffer, 0);
  if (got < 0 && errno == EINTR) return true;
  if (got <= 0) return false;
  std::lock_guard lock(mutex_);
  if (pair.cut) return true;  // swallowed, as a dead route would
  std::uint64_t& moved = from_client ? pair.to_server : pair.to_client;
  moved += static_cast<std::uint64_t>(got);
  LinkSide side = from_client ? LinkSide::to_server : LinkSide::to_client;
  if (cut_bytes_ != 0 && side == cut_side_ && moved >= cut_bytes_) {
    pair.cut = true;
    return true;
  }
  return write_all(from_client ? pair.server : pair.client, buffer, static_cast<std::size_t>(got));
}

void CuttableLink::run() {
  while (!stopping_) {
    std::vector<pollfd> watched{{wake_[0], POLLIN, 0}, {listener_, POLLIN, 0}};
    std::vector<std::size_t> owners;
    {
      std::lock_guard lock(mutex_);
      for (std::size_t i = 0; i < pairs_.size(); ++i) {
        // A cut connection is read no more: its buffers fill and the peers stall.
        if (pairs_[i].cut || pairs_[i].client < 0) continue;
        watched.push_back({pairs_[i].client, POLLIN, 0});
        watched.push_back({pairs_[i].server, POLLIN, 0});
        owners.push_back(i);
        owners.push_back(i);
      }
    }
    if (::poll(watched.data(), watched.size(), -1) < 0 && errno != EINTR) return;
    if (watched[0].revents != 0) {
      char drained[64];
      (void)!::read(wake_[0], drained, sizeof drained);
    }
    if (watched[1].revents & POLLIN) accept_one();
    for (std::size_t i = 2; i < watched.size(); ++i) {
      if (watched[i].revents == 0) continue;
      Pair& pair = pairs_[owners[i - 2]];
      if (pair.client < 0) continue;
      if (!forward(pair, watched[i].fd == pair.client)) {
        std::lock_guard lock(mutex_);
        ::close(pair.client);
        ::close(pair.server);
        pair.client = pair.server = -1;
      }
    }
  }
}

}  // namespace pendrel::testing
