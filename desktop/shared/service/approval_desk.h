// The service's side of the approval console: the consoles attached on run/admin.sock, the
// rule matches waiting for a person's answer, and the live feed of handled requests.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "desktop/shared/audit/audit_log.h"
#include "protocol/unique_fd.h"

namespace pendrel::desktop {

// What is put to the person: everything a console shows about one match.
struct ApprovalQuestion {
  std::string host;  // the host's name, as the caller gave it resolved
  std::vector<std::string> callers;
  std::string command;  // the whole command text, argument or --stdin script
  std::size_t match_begin = 0;
  std::size_t match_end = 0;
  std::string rule;
  std::string description_en;  // empty for a user rule
  std::string description_zh;
};

// How a waiting match ended.
enum class ApprovalEnd {
  approved,
  refused,
  timed_out,
  detached,     // every console went away
  locked,       // the service was locked (lock or lock --all)
  caller_gone,  // the caller closed its connection
  stopping,     // the service is stopping
};

// The name of `end` in the audit log and in the console's events.
[[nodiscard]] const char* approval_end_name(ApprovalEnd end);

// One attached console: the frames waiting to be sent to it, and an eventfd that is readable
// while there are some.
class ConsoleLink {
 public:
  explicit ConsoleLink(pid_t pid);

  [[nodiscard]] int wake_fd() const { return wake_.get(); }
  [[nodiscard]] pid_t pid() const { return pid_; }
  // Queues one frame; a console that has fallen this far behind is overflowed instead.
  void push(std::string frame);
  // Everything queued, oldest first; empties the eventfd.
  [[nodiscard]] std::deque<std::string> take();
  // It stopped reading while frames kept coming: its session ends it.
  [[nodiscard]] bool overflowed();

 private:
  pid_t pid_;
  UniqueFd wake_;
  std::mutex mutex_;
  std::deque<std::string> outbox_;
  std::size_t outbox_bytes_ = 0;
  bool overflowed_ = false;
};

// Where a waiting request looks for its end; shared by the desk and the waiting thread.
struct WaitingMatch;

// The wrong secrets in a row after which only the master password approves: a PIN is short,
// and any process of the person's user can attach a console and guess.
inline constexpr int max_wrong_secrets = 5;
// Each console holds a worker for as long as it is attached; a person needs few.
inline constexpr std::size_t max_consoles = 8;

class ApprovalDesk {
 public:
  ApprovalDesk() = default;
  ApprovalDesk(const ApprovalDesk&) = delete;
  ApprovalDesk& operator=(const ApprovalDesk&) = delete;

  // The tests' short wait instead of the rule settings' approval time.
  void set_wait_override(std::optional<std::chrono::seconds> wait) { wait_override_ = wait; }
  [[nodiscard]] std::chrono::seconds wait_for(std::chrono::seconds configured) const {
    return wait_override_.value_or(configured);
  }

  [[nodiscard]] bool has_console();

  // Puts `question` to every attached console and waits until a console answers it, `wait`
  // passes, every console detaches, the service is locked, or one of `cancel_fds` (the
  // caller's connection, the service's abandon switch) is readable or hangs up.
  [[nodiscard]] ApprovalEnd ask(const ApprovalQuestion& question, std::chrono::seconds wait,
                                int caller_fd, int abandon_fd);

  // A console's answer to question `id`; false when it is not waiting (any more).
  bool settle(std::uint64_t id, ApprovalEnd end);
  [[nodiscard]] bool is_waiting(std::uint64_t id);
  // The service was locked: every waiting question ends as locked.
  void settle_all_locked();

  // A console comes and goes. The new one is sent every question still waiting (nullptr when
  // max_consoles are attached already); when the last one goes, every waiting question ends
  // as detached.
  [[nodiscard]] std::shared_ptr<ConsoleLink> attach(pid_t pid);
  void detach(const std::shared_ptr<ConsoleLink>& link);

  // Tells every console about a handled request (its audit entry, stamped now).
  void publish(const AuditEntry& entry);

  // The count of wrong secrets in a row: at max_wrong_secrets the PIN is no longer accepted,
  // until a right secret or an unlock with the master password. A check counts as wrong from
  // its start, so that consoles guessing at once cannot get past the count.
  [[nodiscard]] bool begin_secret_check();  // whether the PIN may be tried
  void secret_was_right();
  void forgive_wrong_secrets();

 private:
  void broadcast_locked(const std::string& frame);
  bool settle_locked(std::uint64_t id, ApprovalEnd end);

  std::optional<std::chrono::seconds> wait_override_;
  std::mutex mutex_;
  std::vector<std::shared_ptr<ConsoleLink>> consoles_;
  std::map<std::uint64_t, std::shared_ptr<WaitingMatch>> waiting_;
  std::uint64_t next_id_ = 1;
  int wrong_secrets_ = 0;
};

}  // namespace pendrel::desktop
