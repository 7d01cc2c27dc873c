// A TCP relay on 127.0.0.1 that holds every byte for half a round trip in each direction: a
// distant host's latency for benchmarks, on a machine without netem. Bandwidth is not limited
// (up to 64 MiB may wait in each direction).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace pendrel::testing {

class DelayLink {
 public:
  DelayLink(std::uint16_t server_port, std::chrono::milliseconds round_trip);
  ~DelayLink();
  DelayLink(const DelayLink&) = delete;
  DelayLink& operator=(const DelayLink&) = delete;
  [[nodiscard]] std::uint16_t port() const { return port_; }

  struct Direction;

 private:
  void accept_loop();

  std::uint16_t server_port_;
  std::chrono::milliseconds one_way_;
  std::uint16_t port_ = 0;
  int listener_ = -1;
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::vector<std::shared_ptr<Direction>> directions_;
  std::thread acceptor_;
};

}  // namespace pendrel::testing
