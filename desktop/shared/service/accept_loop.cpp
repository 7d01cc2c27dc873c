// The accept loop: connections wait on one poll until they speak, and only then take a
// worker. A thread per silent connection would let a few dozen idle clients take every
// worker and keep pendrel waiting in the listen queue for the whole frame deadline.
#include "desktop/shared/service/accept_loop.h"

#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <list>
#include <optional>
#include <vector>

#include "desktop/shared/service/admin_session.h"
#include "desktop/shared/service/connection.h"
#include "desktop/shared/service/service.h"
#include "protocol/os_error.h"

namespace pendrel::desktop {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A worker holds its connection and, for a command, its pipes and process descriptor; a
// file transfer or an SSH session a few more. Generous, so that a worker never finds the
// descriptors taken by waiting connections.
constexpr std::size_t descriptors_per_worker = 8;
// The logs, the listeners, the pool's eventfd, the data files being read, the libraries'.
constexpr std::size_t own_descriptors = 64;
// Accepting is paused this long when the process is out of descriptors or memory, so that the
// loop does not spin on a listener that stays readable.
constexpr auto accept_pause = 100ms;

struct Waiting {
  UniqueFd socket;
  bool admin = false;
  pid_t pid = 0;
  Clock::time_point deadline;  // for its first byte
  bool heard = false;          // its first bytes, or its hang-up, have arrived
};

class Reception {
 public:
  Reception(const Listener& listener, const Listener* admin, WorkerPool& pool,
            ServiceContext& context, std::size_t max_waiting)
      : listener_(listener),
        admin_(admin),
        pool_(pool),
        context_(context),
        max_waiting_(std::max<std::size_t>(max_waiting, 1)) {}

  void run() {
    while (!context_.stop.fired()) {
      dispatch_heard();
      auto now = Clock::now();
      bool may_accept = now >= accept_paused_until_ && has_room();
      build_poll_set(may_accept);
      if (::poll(fds_.data(), fds_.size(), poll_timeout(now)) < 0) {
        if (errno == EINTR) continue;
        context_.log.write("poll failed: " + os_error_text(errno));
        return;
      }
      mark_heard();
      drop_silent(Clock::now());
      if (may_accept) {
        if (fds_[2].revents != 0) accept_all(listener_, false);
        if (admin_ != nullptr && fds_[3].revents != 0) accept_all(*admin_, true);
      }
    }
  }

 private:
  // The oldest connections that have spoken get the free workers.
  // Asking the pool also joins the finished workers and clears its wake-up, so it is asked at
  // every turn of the loop.
  void dispatch_heard() {
    bool free_slot = pool_.has_free_slot() && Clock::now() >= retry_at_;
    for (auto it = waiting_.begin(); it != waiting_.end() && free_slot;) {
      if (!it->heard) {
        ++it;
        continue;
      }
      int socket = it->socket.get();
      ServiceContext& context = context_;
      bool started =
          it->admin
              ? pool_.start(
                    [socket, &context] { serve_admin_connection(UniqueFd(socket), context); })
              : pool_.start([socket, &context] { serve_connection(UniqueFd(socket), context); });
      if (!started) {
        // It waits on, heard; the next try comes after a pause, not at once.
        if (!start_failing_) context_.log.write("cannot start a worker thread; connections wait");
        start_failing_ = true;
        retry_at_ = Clock::now() + accept_pause;
        return;
      }
      start_failing_ = false;
      (void)it->socket.release();  // the worker owns it now
      it = waiting_.erase(it);
      free_slot = pool_.has_free_slot();
    }
  }

  [[nodiscard]] bool has_room() const {
    return waiting_.size() < max_waiting_ ||
           std::any_of(waiting_.begin(), waiting_.end(), [](const Waiting& w) { return !w.heard; });
  }

  // [stop, worker finished, listener, admin listener, then every connection not yet heard].
  void build_poll_set(bool may_accept) {
    fds_.clear();
    silent_.clear();
    auto listen_events = static_cast<short>(may_accept ? POLLIN : 0);
    fds_.push_back({context_.stop.fd(), POLLIN, 0});
    fds_.push_back({pool_.slot_freed_fd(), POLLIN, 0});
    fds_.push_back({listener_.socket.get(), listen_events, 0});
    fds_.push_back({admin_ != nullptr ? admin_->socket.get() : -1, listen_events, 0});
    for (auto it = waiting_.begin(); it != waiting_.end(); ++it) {
      if (it->heard) continue;
      fds_.push_back({it->socket.get(), POLLIN, 0});
      silent_.push_back(it);
    }
  }

  // Until the earliest first-byte deadline, or the end of a pause.
  [[nodiscard]] int poll_timeout(Clock::time_point now) const {
    std::optional<Clock::time_point> wake;
    for (auto it : silent_)
      wake = wake ? std::min(*wake, it->deadline) : it->deadline;
    for (auto pause : {accept_paused_until_, retry_at_}) {
      if (pause > now) wake = wake ? std::min(*wake, pause) : pause;
    }
    if (!wake) return -1;
    auto left = std::chrono::ceil<std::chrono::milliseconds>(*wake - now).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 60'000));
  }

  void mark_heard() {
    for (std::size_t i = 0; i < silent_.size(); ++i) {
      if (fds_[4 + i].revents != 0) silent_[i]->heard = true;
    }
  }

  void drop_silent(Clock::time_point now) {
    for (auto it = waiting_.begin(); it != waiting_.end();) {
      if (it->heard || it->deadline > now) {
        ++it;
        continue;
      }
      context_.log.write(describe(*it) + " dropped before its first frame: nothing sent in time");
      it = waiting_.erase(it);
    }
  }

  // Accepts what is queued, as far as there is room.
  void accept_all(const Listener& from, bool admin) {
    while (has_room()) {
      int accepted = ::accept4(from.socket.get(), nullptr, nullptr, SOCK_CLOEXEC);
      if (accepted < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED) {
          return;
        }
        // Out of descriptors or memory: said once until an accept succeeds again.
        if (!accept_failing_) context_.log.write("accept failed: " + os_error_text(errno));
        accept_failing_ = true;
        accept_paused_until_ = Clock::now() + accept_pause;
        return;
      }
      accept_failing_ = false;
      admit(UniqueFd(accepted), admin);
    }
  }

  void admit(UniqueFd socket, bool admin) {
    ucred peer{};
    socklen_t length = sizeof peer;
    const char* what = admin ? "an admin connection" : "a connection";
    if (::getsockopt(socket.get(), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) {
      context_.log.write(std::string("dropped ") + what + ": cannot read its credentials");
      return;
    }
    if (peer.uid != ::getuid()) {
      context_.log.write(std::string("refused ") + what + " from uid " + std::to_string(peer.uid) +
                         " (pid " + std::to_string(peer.pid) + ")");
      return;
    }
    if (waiting_.size() >= max_waiting_) make_room();
    waiting_.push_back(
        Waiting{std::move(socket), admin, peer.pid, Clock::now() + context_.frame_wait, false});
  }

  // The connection that has waited longest without a byte gives way.
  void make_room() {
    auto oldest =
        std::find_if(waiting_.begin(), waiting_.end(), [](const Waiting& w) { return !w.heard; });
    if (oldest == waiting_.end()) return;
    context_.log.write(describe(*oldest) + " dropped before its first frame: " +
                       std::to_string(waiting_.size()) + " connections were waiting");
    waiting_.erase(oldest);
  }

  static std::string describe(const Waiting& waiting) {
    return std::string(waiting.admin ? "admin connection" : "connection") + " from pid " +
           std::to_string(waiting.pid);
  }

  const Listener& listener_;
  const Listener* admin_;
  WorkerPool& pool_;
  ServiceContext& context_;
  std::size_t max_waiting_;
  std::list<Waiting> waiting_;  // in the order they were accepted
  std::vector<pollfd> fds_;
  std::vector<std::list<Waiting>::iterator> silent_;  // fds_[4 + i] watches silent_[i]
  Clock::time_point accept_paused_until_{};
  bool accept_failing_ = false;
  Clock::time_point retry_at_{};  // of a worker that could not be started
  bool start_failing_ = false;
};

}  // namespace

std::size_t waiting_connection_limit() {
  rlimit limit{};
  std::size_t soft = 1024;
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0) {
    soft = limit.rlim_cur == RLIM_INFINITY ? std::size_t{1} << 20
                                           : static_cast<std::size_t>(limit.rlim_cur);
  }
  std::size_t reserved = max_concurrent_connections * descriptors_per_worker + own_descriptors;
  return std::clamp<std::size_t>(soft > reserved ? soft - reserved : 0, 16, 1024);
}

void accept_until_stopped(const Listener& listener, const Listener* admin, WorkerPool& pool,
                          ServiceContext& context, std::size_t max_waiting) {
  Reception(listener, admin, pool, context, max_waiting).run();
}

}  // namespace pendrel::desktop
