// The broker's per-person services: for each uid that connects, today's service runs as the
// broker's account on <state-dir>/<uid>/, reachable only by the broker through its run/
// directory. A person's secrets then live in a process of their own, apart from everyone
// else's.
#pragma once

#include <sys/types.h>

#include <expected>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "protocol/unique_fd.h"

namespace pendrel::desktop {

class UserCores {
 public:
  // `executable`: this program, run as `broker-core` for each person. `refusal`: why the
  // broker itself must not hold secrets, passed on to every core (empty when none).
  // `personal_uid`: in personal mode, the one uid served, whose state is `state_dir` itself.
  UserCores(std::string executable, std::string state_dir, std::string refusal,
            std::optional<uid_t> personal_uid = std::nullopt)
      : executable_(std::move(executable)),
        state_dir_(std::move(state_dir)),
        refusal_(std::move(refusal)),
        personal_uid_(personal_uid) {}
  ~UserCores() { stop_all(); }
  UserCores(const UserCores&) = delete;
  UserCores& operator=(const UserCores&) = delete;

  // <state-dir>/<uid>, created with mode 0700 when missing; in personal mode the state
  // directory itself, for its one uid only.
  [[nodiscard]] std::expected<std::string, std::string> state_of(uid_t uid);

  // A connection to the socket of the core of `uid` that takes pendrel's requests, starting
  // the core first when none answers. The error is the reason.
  [[nodiscard]] std::expected<UniqueFd, std::string> connect(uid_t uid);

  // A connection to the core's run/admin.sock (terminals), the core started as connect does.
  [[nodiscard]] std::expected<UniqueFd, std::string> connect_admin(uid_t uid);

  // SIGTERM to every core, SIGKILL to those still there after 10 s.
  void stop_all();

  [[nodiscard]] const std::string& executable() const { return executable_; }
  [[nodiscard]] const std::string& refusal() const { return refusal_; }
  [[nodiscard]] bool personal() const { return personal_uid_.has_value(); }

 private:
  std::expected<void, std::string> start(uid_t uid, const std::string& state);
  void reap_locked();

  std::string executable_;
  std::string state_dir_;
  std::string refusal_;
  std::optional<uid_t> personal_uid_;
  std::mutex mutex_;
  std::map<uid_t, pid_t> running_;
};

// Connects to the Unix socket at `path`; the errno when that fails.
[[nodiscard]] std::expected<UniqueFd, int> connect_unix(const std::string& path);

}  // namespace pendrel::desktop
