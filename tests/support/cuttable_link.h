// A TCP relay on 127.0.0.1 that a test can cut: it forwards to a port until cut, then keeps
// the connection open and moves nothing more either way, as a host gone silent or a dead route
// does. Connections opened after a cut are forwarded again.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace pendrel::testing {

enum class LinkSide { to_server, to_client };

class CuttableLink {
 public:
  explicit CuttableLink(std::uint16_t server_port);
  ~CuttableLink();
  CuttableLink(const CuttableLink&) = delete;
  CuttableLink& operator=(const CuttableLink&) = delete;

  [[nodiscard]] std::uint16_t port() const { return port_; }
  // Stops every connection open now.
  void cut();
  // Stops a connection once `bytes` have been forwarded towards `side` on it.
  void cut_after(LinkSide side, std::uint64_t bytes);
  // Connections forwarded so far, cut or not.
  [[nodiscard]] int connections_seen() const { return seen_; }

 private:
  struct Pair {
    int client = -1;
    int server = -1;
    std::uint64_t to_server = 0;
    std::uint64_t to_client = 0;
    bool cut = false;
  };
  void run();
  void accept_one();
  // Moves what `from` holds to the other end; false when the pair is over.
  bool forward(Pair& pair, bool from_client);

  std::uint16_t server_port_;
  std::uint16_t port_ = 0;
  int listener_ = -1;
  int wake_[2] = {-1, -1};
  std::mutex mutex_;
  std::vector<Pair> pairs_;
  LinkSide cut_side_ = LinkSide::to_server;
  std::uint64_t cut_bytes_ = 0;  // 0: no automatic cut
  std::atomic<int> seen_{0};
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace pendrel::testing
