#include "support/delay_link.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <deque>
#include <stdexcept>
#include <string>

#include "support/loopback.h"

namespace pendrel::testing {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t max_waiting = 64u << 20;

}  // namespace

// One direction of one connection: a reader that stamps what arrives and a writer that sends
// it once its time has come.
struct DelayLink::Direction {
  int from = -1;
  int to = -1;
  std::chrono::milliseconds delay{};
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::pair<Clock::time_point, std::string>> waiting;
  std::size_t waiting_bytes = 0;
  bool ended = false;
  std::thread reader;
  std::thread writer;

  void read_loop() {
    std::string buffer(256 * 1024, '\0');
    for (;;) {
      ssize_t got = ::recv(from, buffer.data(), buffer.size(), 0);
      if (got < 0 && errno == EINTR) continue;
      std::unique_lock lock(mutex);
      if (got <= 0) {
        ended = true;
        changed.notify_all();
        return;
      }
      changed.wait(lock, [&] { return waiting_bytes < max_waiting || ended; });
      waiting.emplace_back(Clock::now() + delay, buffer.substr(0, static_cast<std::size_t>(got)));
      waiting_bytes += static_cast<std::size_t>(got);
      changed.notify_all();
    }
  }

  void write_loop() {
    std::unique_lock lock(mutex);
    for (;;) {
      changed.wait(lock, [&] { return !waiting.empty() || ended; });
      if (waiting.empty()) break;
      auto due = waiting.front().first;
      if (Clock::now() < due) {
        changed.wait_until(lock, due);
        continue;
      }
      std::string bytes = std::move(waiting.front().second);
      waiting.pop_front();
      waiting_bytes -= bytes.size();
      changed.notify_all();
      lock.unlock();
      std::size_t done = 0;
      while (done < bytes.size()) {
        ssize_t sent = ::send(to, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) break;
        done += static_cast<std::size_t>(sent);
      }
      lock.lock();
    }
    ::shutdown(to, SHUT_WR);
  }
};

DelayLink::DelayLink(std::uint16_t server_port, std::chrono::milliseconds round_trip)
    : server_port_(server_port), one_way_(round_trip / 2) {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = loopback(0);
  socklen_t length = sizeof address;
  if (listener_ < 0 ||
      ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener_, 64) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("cannot start the delay relay");
  }
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { accept_loop(); });
}

DelayLink::~DelayLink() {
  stopping_ = true;
  ::shutdown(listener_, SHUT_RDWR);
  acceptor_.join();
  std::lock_guard lock(mutex_);
  for (auto& direction : directions_)
    ::shutdown(direction->from, SHUT_RDWR);
  for (auto& direction : directions_) {
    direction->reader.join();
    direction->writer.join();
  }
  for (auto& direction : directions_)
    ::close(direction->from);
  ::close(listener_);
}

void DelayLink::accept_loop() {
  while (!stopping_) {
    int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) {
      if (errno == EINTR) continue;
      return;
    }
    int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopback(server_port_);
    if (::connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      ::close(client);
      ::close(server);
      continue;
    }
    int on = 1;
    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    std::lock_guard lock(mutex_);
    for (auto [from, to] : {std::pair{client, server}, std::pair{server, client}}) {
      auto direction = std::make_shared<Direction>();
      direction->from = from;
      direction->to = to;
      direction->delay = one_way_;
      direction->reader = std::thread([direction] { direction->read_loop(); });
      direction->writer = std::thread([direction] { direction->write_loop(); });
      directions_.push_back(direction);
    }
  }
}

}  // namespace pendrel::testing
