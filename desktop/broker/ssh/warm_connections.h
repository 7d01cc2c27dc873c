// Logged-in SSH connections kept for a while after a request, so that the next request to the
// same host opens only a new channel (a new session and process on the host) instead of paying
// the TCP connect, key exchange and login again.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <expected>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "desktop/broker/ssh/libssh_handles.h"
#include "desktop/broker/ssh/ssh_target.h"
#include "protocol/messages.h"

namespace pendrel::desktop {

class WarmConnections;

// One request's use of a connection: a warm one or a new one. Unless the request calls
// keep_warm, the connection ends with the lease.
class SessionLease {
 public:
  SessionLease() = default;
  // A connection no one keeps after the request.
  [[nodiscard]] static SessionLease unkept(OwnedSession session);
  SessionLease(SessionLease&& other) noexcept;
  SessionLease& operator=(SessionLease&& other) noexcept;
  ~SessionLease();

  [[nodiscard]] ssh_session get() const { return session_.get(); }
  // Whether an earlier request used this connection (it may have died meanwhile).
  [[nodiscard]] bool reused() const { return reused_; }
  // The request ended with the connection in good order: the next request may use it.
  void keep_warm() { keep_ = true; }

 private:
  friend class WarmConnections;
  WarmConnections* owner_ = nullptr;
  std::string host_id_;
  HostLogin login_ = HostLogin::person;
  std::uint64_t generation_ = 0;
  std::chrono::milliseconds keep_for_{0};
  std::chrono::milliseconds dead_link_after_{60'000};
  OwnedSession session_;
  bool reused_ = false;
  bool keep_ = false;
};

class WarmConnections {
 public:
  using Clock = std::chrono::steady_clock;

  // At most `per_host` idle connections are kept for each host.
  explicit WarmConnections(std::size_t per_host = 4);
  ~WarmConnections();  // ends every connection it keeps
  WarmConnections(const WarmConnections&) = delete;
  WarmConnections& operator=(const WarmConnections&) = delete;

  // An idle connection to `host_id` logged in with `login` if one is kept, else a new one (see
  // open_ssh_session for the failures). `fresh` skips the idle ones (a reused connection turned out
  // dead). `generation` is generation() as it was before the request read its host from the vault:
  // a connection made from what the vault held before a change is never kept. A connection is kept
  // after the request for target.keep_warm_for at most (0: never).
  enum class Pick { any, fresh };
  [[nodiscard]] std::expected<SessionLease, ErrorBody> take(
      const std::string& host_id, HostLogin login, std::uint64_t generation,
      const SshTarget& target, const SshCredentials& credentials, const TrustedHostKeys& keys,
      Pick pick = Pick::any);

  // Counts the calls of end_all.
  [[nodiscard]] std::uint64_t generation();

  // Ends every idle connection at once, and every connection in use when its request ends:
  // the vault locked or changed (a host, its credentials or keys), or the service stops.
  // Does not block on the network: a thread of its own says goodbye to the servers.
  void end_all();

  [[nodiscard]] std::size_t idle_count();

 private:
  friend class SessionLease;
  struct Idle {
    OwnedSession session;
    Clock::time_point until;
    std::chrono::milliseconds probe_every{};  // a quarter of the host's dead-link bound
    Clock::time_point next_probe;
    bool probe_sent = false;              // a keepalive not yet seen answered
    std::uint32_t segments_at_probe = 0;  // the host's data segments when it was sent
  };
  // Whether `idle` stays: a keepalive sent once the host was quiet must have had an answer
  // (any data) before the next one is due.
  bool probe(Idle& idle, Clock::time_point now);
  void give_back(SessionLease& lease);
  void close_loop();

  std::size_t per_host_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::uint64_t generation_ = 0;
  // By host and login: a connection logged in as one of a host's users never serves a request
  // meant for the other.
  std::map<std::pair<std::string, HostLogin>, std::vector<Idle>> idle_;
  std::vector<OwnedSession> to_close_;
  bool stopping_ = false;
  std::thread closer_;
};

// Where a request gets its connection: one of `warm`'s for `host_id` and `login` (the login
// the request's credentials are for), or a new one kept by no one when `warm` is null.
struct ConnectionSource {
  WarmConnections* warm = nullptr;
  std::string host_id;
  std::uint64_t generation = 0;  // see WarmConnections::take
  HostLogin login = HostLogin::person;
};

[[nodiscard]] std::expected<SessionLease, ErrorBody> take_session(
    const ConnectionSource& source, const SshTarget& target, const SshCredentials& credentials,
    const TrustedHostKeys& keys, WarmConnections::Pick pick = WarmConnections::Pick::any);

}  // namespace pendrel::desktop
