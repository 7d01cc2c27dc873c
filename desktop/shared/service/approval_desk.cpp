#include "desktop/shared/service/approval_desk.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>

#include "desktop/shared/audit/utc_time.h"
#include "desktop/shared/service/approval_events.h"

namespace pendrel::desktop {
namespace {

using Clock = std::chrono::steady_clock;

// A console this far behind has stopped reading; it is dropped rather than let the service's
// memory grow with its backlog.
constexpr std::size_t max_outbox_frames = 4096;
constexpr std::size_t max_outbox_bytes = 64u << 20;

void signal_fd(int fd) {
  std::uint64_t one = 1;
  (void)!::write(fd, &one, sizeof one);
}

void drain_fd(int fd) {
  std::uint64_t count = 0;
  (void)!::read(fd, &count, sizeof count);
}

UniqueFd new_eventfd() {
  return UniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
}

}  // namespace

struct WaitingMatch {
  ApprovalQuestion question;
  Clock::time_point deadline;
  UniqueFd wake = new_eventfd();  // readable once `end` is set
  std::optional<ApprovalEnd> end;
};

const char* approval_end_name(ApprovalEnd end) {
  switch (end) {
    case ApprovalEnd::approved:
      return "approved";
    case ApprovalEnd::refused:
      return "refused";
    case ApprovalEnd::timed_out:
      return "timed_out";
    case ApprovalEnd::detached:
      return "detached";
    case ApprovalEnd::locked:
      return "locked";
    case ApprovalEnd::caller_gone:
      return "caller_gone";
    case ApprovalEnd::stopping:
      return "stopping";
  }
  return "refused";
}

ConsoleLink::ConsoleLink(pid_t pid) : pid_(pid), wake_(new_eventfd()) {}

void ConsoleLink::push(std::string frame) {
  std::lock_guard guard(mutex_);
  if (overflowed_) return;
  if (outbox_.size() >= max_outbox_frames || outbox_bytes_ + frame.size() > max_outbox_bytes) {
    overflowed_ = true;
    outbox_.clear();
    outbox_bytes_ = 0;
  } else {
    outbox_bytes_ += frame.size();
    outbox_.push_back(std::move(frame));
  }
  signal_fd(wake_.get());
}

std::deque<std::string> ConsoleLink::take() {
  std::lock_guard guard(mutex_);
  drain_fd(wake_.get());
  outbox_bytes_ = 0;
  return std::exchange(outbox_, {});
}

bool ConsoleLink::overflowed() {
  std::lock_guard guard(mutex_);
  return overflowed_;
}

bool ApprovalDesk::has_console() {
  std::lock_guard guard(mutex_);
  return !consoles_.empty();
}

ApprovalEnd ApprovalDesk::ask(const ApprovalQuestion& question, std::chrono::seconds wait,
                              int caller_fd, int abandon_fd) {
  auto match = std::make_shared<WaitingMatch>();
  match->question = question;
  match->deadline = Clock::now() + wait;
  std::uint64_t id = 0;
  {
    std::lock_guard guard(mutex_);
    // The last console may have gone since the caller looked.
    if (consoles_.empty()) return ApprovalEnd::detached;
    id = next_id_++;
    waiting_.emplace(id, match);
    broadcast_locked(ask_event(id, question, wait));
  }
  while (true) {
    {
      std::lock_guard guard(mutex_);
      if (match->end) break;
    }
    auto left = std::chrono::ceil<std::chrono::milliseconds>(match->deadline - Clock::now());
    std::optional<ApprovalEnd> ended;
    if (left.count() <= 0) {
      ended = ApprovalEnd::timed_out;
    } else {
      pollfd fds[3] = {{match->wake.get(), POLLIN, 0},
                       {caller_fd, POLLIN | POLLRDHUP, 0},
                       {abandon_fd, POLLIN, 0}};
      int ready = ::poll(fds, 3, static_cast<int>(std::min<long long>(left.count(), 60'000)));
      if (ready < 0 && errno != EINTR) ended = ApprovalEnd::caller_gone;
      // pendrel sends nothing after its request: anything readable is its hang-up.
      if (ready > 0 && fds[1].revents != 0) ended = ApprovalEnd::caller_gone;
      if (ready > 0 && fds[2].revents != 0) ended = ApprovalEnd::stopping;
    }
    if (ended) {
      std::lock_guard guard(mutex_);
      settle_locked(id, *ended);  // unless a console was first
    }
  }
  std::lock_guard guard(mutex_);
  waiting_.erase(id);
  return *match->end;
}

bool ApprovalDesk::settle_locked(std::uint64_t id, ApprovalEnd end) {
  auto found = waiting_.find(id);
  if (found == waiting_.end() || found->second->end) return false;
  found->second->end = end;
  signal_fd(found->second->wake.get());
  broadcast_locked(settled_event(id, end));
  return true;
}

bool ApprovalDesk::settle(std::uint64_t id, ApprovalEnd end) {
  std::lock_guard guard(mutex_);
  return settle_locked(id, end);
}

bool ApprovalDesk::is_waiting(std::uint64_t id) {
  std::lock_guard guard(mutex_);
  auto found = waiting_.find(id);
  return found != waiting_.end() && !found->second->end;
}

void ApprovalDesk::settle_all_locked() {
  std::lock_guard guard(mutex_);
  for (const auto& [id, match] : waiting_)
    settle_locked(id, ApprovalEnd::locked);
}

std::shared_ptr<ConsoleLink> ApprovalDesk::attach(pid_t pid) {
  auto link = std::make_shared<ConsoleLink>(pid);
  std::lock_guard guard(mutex_);
  if (consoles_.size() >= max_consoles) return nullptr;
  link->push(attached_event());
  auto now = Clock::now();
  for (const auto& [id, match] : waiting_) {
    if (match->end) continue;
    link->push(
        ask_event(id, match->question,
                  std::chrono::duration_cast<std::chrono::milliseconds>(match->deadline - now)));
  }
  consoles_.push_back(link);
  return link;
}

void ApprovalDesk::detach(const std::shared_ptr<ConsoleLink>& link) {
  std::lock_guard guard(mutex_);
  std::erase(consoles_, link);
  if (!consoles_.empty()) return;
  for (const auto& [id, match] : waiting_)
    settle_locked(id, ApprovalEnd::detached);
}

void ApprovalDesk::publish(const AuditEntry& entry) {
  std::lock_guard guard(mutex_);
  if (consoles_.empty()) return;
  broadcast_locked(request_event(entry, utc_timestamp(std::chrono::system_clock::now())));
}

void ApprovalDesk::broadcast_locked(const std::string& frame) {
  for (const auto& console : consoles_)
    console->push(frame);
}

bool ApprovalDesk::begin_secret_check() {
  std::lock_guard guard(mutex_);
  bool pin = wrong_secrets_ < max_wrong_secrets;
  if (wrong_secrets_ < max_wrong_secrets) ++wrong_secrets_;
  return pin;
}

void ApprovalDesk::secret_was_right() {
  std::lock_guard guard(mutex_);
  wrong_secrets_ = 0;
}

void ApprovalDesk::forgive_wrong_secrets() {
  std::lock_guard guard(mutex_);
  wrong_secrets_ = 0;
}

}  // namespace pendrel::desktop
