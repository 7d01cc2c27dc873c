#include "desktop/broker/ssh/warm_connections.h"

#include <poll.h>

#include <algorithm>
#include <optional>
#include <utility>

#include "desktop/broker/ssh/link_watch.h"
#include "desktop/broker/ssh/ssh_connection.h"

namespace pendrel::desktop {

namespace {

// Whether an idle connection may still serve: libssh has seen no end of it, and the kernel has
// seen neither the host's end nor a failure (the keep-alive probes of a dead link).
bool still_up(ssh_session session) {
  if (ssh_is_connected(session) == 0) return false;
  pollfd socket_state{ssh_get_fd(session), POLLRDHUP, 0};
  if (::poll(&socket_state, 1, 0) < 0) return false;
  return (socket_state.revents & (POLLERR | POLLHUP | POLLRDHUP | POLLNVAL)) == 0;
}

}  // namespace

SessionLease SessionLease::unkept(OwnedSession session) {
  SessionLease lease;
  lease.session_ = std::move(session);
  return lease;
}

SessionLease::SessionLease(SessionLease&& other) noexcept
    : owner_(std::exchange(other.owner_, nullptr)),
      host_id_(std::move(other.host_id_)),
      generation_(other.generation_),
      keep_for_(other.keep_for_),
      dead_link_after_(other.dead_link_after_),
      session_(std::move(other.session_)),
      reused_(other.reused_),
      keep_(std::exchange(other.keep_, false)) {}

SessionLease& SessionLease::operator=(SessionLease&& other) noexcept {
  if (this != &other) {
    SessionLease old(std::move(*this));
    owner_ = std::exchange(other.owner_, nullptr);
    host_id_ = std::move(other.host_id_);
    generation_ = other.generation_;
    keep_for_ = other.keep_for_;
    dead_link_after_ = other.dead_link_after_;
    session_ = std::move(other.session_);
    reused_ = other.reused_;
    keep_ = std::exchange(other.keep_, false);
  }
  return *this;
}

SessionLease::~SessionLease() {
  if (owner_ != nullptr && keep_ && session_) owner_->give_back(*this);
}

WarmConnections::WarmConnections(std::size_t per_host)
    : per_host_(per_host), closer_([this] { close_loop(); }) {}

WarmConnections::~WarmConnections() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  end_all();
  closer_.join();
}

std::expected<SessionLease, ErrorBody> WarmConnections::take(
    const std::string& host_id, std::uint64_t generation, const SshTarget& target,
    const SshCredentials& credentials, const TrustedHostKeys& keys, Pick pick) {
  SessionLease lease;
  lease.owner_ = this;
  lease.host_id_ = host_id;
  lease.keep_for_ = target.keep_warm_for;
  lease.dead_link_after_ = target.dead_link_after;
  lease.generation_ = generation;
  {
    std::lock_guard lock(mutex_);
    auto kept = idle_.find(host_id);
    while (pick == Pick::any && generation == generation_ && kept != idle_.end() &&
           !kept->second.empty()) {
      Idle idle = std::move(kept->second.back());
      kept->second.pop_back();
      if (idle.until <= Clock::now() || !still_up(idle.session.get())) {
        to_close_.push_back(std::move(idle.session));
        wake_.notify_all();
        continue;
      }
      lease.session_ = std::move(idle.session);
      lease.reused_ = true;
      return lease;
    }
  }
  auto session = open_ssh_session(target, credentials, keys);
  if (!session) return std::unexpected(session.error());
  lease.session_ = std::move(*session);
  return lease;
}

void WarmConnections::give_back(SessionLease& lease) {
  std::lock_guard lock(mutex_);
  std::vector<Idle>& kept = idle_[lease.host_id_];
  // A connection made before the vault changed may log in as someone no longer meant.
  if (stopping_ || lease.generation_ != generation_ || lease.keep_for_.count() <= 0 ||
      kept.size() >= per_host_ || ssh_is_connected(lease.session_.get()) == 0) {
    to_close_.push_back(std::move(lease.session_));
  } else {
    const Clock::time_point now = Clock::now();
    const auto probe_every = std::max(lease.dead_link_after_ / 4, std::chrono::milliseconds(100));
    kept.push_back(
        Idle{std::move(lease.session_), now + lease.keep_for_, probe_every, now + probe_every});
  }
  wake_.notify_all();
}

void WarmConnections::end_all() {
  std::lock_guard lock(mutex_);
  ++generation_;
  for (auto& [host, kept] : idle_) {
    for (Idle& idle : kept)
      to_close_.push_back(std::move(idle.session));
  }
  idle_.clear();
  wake_.notify_all();
}

std::uint64_t WarmConnections::generation() {
  std::lock_guard lock(mutex_);
  return generation_;
}

std::size_t WarmConnections::idle_count() {
  std::lock_guard lock(mutex_);
  std::size_t count = 0;
  for (const auto& [host, kept] : idle_)
    count += kept.size();
  return count;
}

bool WarmConnections::probe(Idle& idle, Clock::time_point now) {
  if (now < idle.next_probe) return true;
  const int socket_fd = ssh_get_fd(idle.session.get());
  if (idle.probe_sent) {
    // No answer in a whole interval: the host is gone or hung.
    if (host_data_segments(socket_fd) == idle.segments_at_probe) return false;
    send_keepalive_without_waiting(idle.session.get());  // reads the answer
    idle.probe_sent = false;
  }
  if (host_quiet_for(socket_fd) >= idle.probe_every) {
    idle.segments_at_probe = host_data_segments(socket_fd);
    send_keepalive_without_waiting(idle.session.get());
    idle.probe_sent = true;
  }
  idle.next_probe = now + idle.probe_every;
  return true;
}

void WarmConnections::close_loop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    const Clock::time_point now = Clock::now();
    std::optional<Clock::time_point> next;
    for (auto& [host, kept] : idle_) {
      std::erase_if(kept, [&](Idle& idle) {
        if (idle.until > now && still_up(idle.session.get()) && probe(idle, now)) {
          Clock::time_point wake = std::min(idle.until, idle.next_probe);
          if (!next || wake < *next) next = wake;
          return false;
        }
        to_close_.push_back(std::move(idle.session));
        return true;
      });
    }
    if (!to_close_.empty()) {
      // The goodbye may wait on a slow link: never while holding the lock.
      std::vector<OwnedSession> closing = std::move(to_close_);
      to_close_.clear();
      lock.unlock();
      closing.clear();
      lock.lock();
      continue;
    }
    if (stopping_) return;
    if (next)
      wake_.wait_until(lock, *next);
    else
      wake_.wait(lock);
  }
}

std::expected<SessionLease, ErrorBody> take_session(const ConnectionSource& source,
                                                    const SshTarget& target,
                                                    const SshCredentials& credentials,
                                                    const TrustedHostKeys& keys,
                                                    WarmConnections::Pick pick) {
  if (source.warm != nullptr)
    return source.warm->take(source.host_id, source.generation, target, credentials, keys, pick);
  auto session = open_ssh_session(target, credentials, keys);
  if (!session) return std::unexpected(session.error());
  return SessionLease::unkept(std::move(*session));
}

}  // namespace pendrel::desktop
