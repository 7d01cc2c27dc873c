// The service's hold on the vault: its state (not set up, locked, open, key lost, the whole
// application locked), the one UnlockedVault under a lock of its own, and the idle lock.
#pragma once

#include <chrono>
#include <condition_variable>
#include <expected>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "desktop/broker/vault/unlocked_vault.h"
#include "desktop/shared/audit/service_log.h"
#include "desktop/shared/store/host_record.h"
#include "protocol/error_code.h"

namespace pendrel::desktop {

enum class VaultState { needs_setup, locked, unlocked, key_lost };

[[nodiscard]] const char* vault_state_name(VaultState state);

// Why a request may not go on: the code and the detail of its error answer.
struct Refusal {
  ErrorCode code = ErrorCode::bad_request;
  std::string detail;
};

// The secret that approved a rule match at a console, if any.
enum class ApprovalSecret { none, pin, master_password };

struct VaultStatus {
  VaultState state = VaultState::needs_setup;
  bool app_locked = false;
  std::optional<std::string> unlock_refused;  // why this process will not unlock
  std::uint64_t idle_lock_seconds = 0;        // 0: never
};

class VaultKeeper {
 public:
  // `unlock_refused`: set when the environment forbids unlocking (see unlock_refusal_reason).
  // `idle_override_seconds`: the tests' short idle time instead of the vault's minutes.
  VaultKeeper(std::string data_dir, const ServiceLog& log,
              std::optional<std::string> unlock_refused,
              std::optional<std::uint64_t> idle_override_seconds);
  ~VaultKeeper();  // wipes the open vault
  VaultKeeper(const VaultKeeper&) = delete;
  VaultKeeper& operator=(const VaultKeeper&) = delete;

  [[nodiscard]] VaultStatus status();
  [[nodiscard]] bool app_locked();

  // Whether a request may use `host` as the plain file describes it. LOCAL hosts hold no secret
  // and pass in every state (the whole-application lock is checked before); an SSH host needs
  // the open vault, a vault entry that agrees with the plain one, and a way to log in for the
  // login requests use (the command-line login when the host has one).
  [[nodiscard]] std::optional<Refusal> admit(const HostRecord& plain);

  // Opens the vault with `password` (a failure says why, never the password). Also reopens an
  // open vault, so that a change a command saved is taken up.
  [[nodiscard]] std::expected<void, std::string> unlock(const SecretString& password);
  // After a command changed the vault file: an open vault is opened again with `password`, a
  // closed one stays closed (the password is checked all the same, unless the process may not
  // unlock at all).
  [[nodiscard]] std::expected<void, std::string> reload(const SecretString& password);
  // Forgets the open vault; `all` also refuses every request until the next unlock, in this
  // service and, through a record in the data directory, in the next one.
  void lock(bool all);
  // `listener` runs (under the keeper's lock: it must not block) whenever the vault is opened,
  // opened again after a change, or closed, the idle lock included. Set once, before serving.
  void on_open_or_close(std::function<void()> listener);

  // Whether a console's approval can be checked at all: a vault this process may open.
  [[nodiscard]] bool can_check_approval();
  // Which secret `secret` is: the open vault's approval PIN (unless `pin_accepted` is false,
  // after too many wrong guesses), else the master password, checked by opening the vault
  // file (so it works while the vault is locked too). Slow by design: each is a key
  // derivation.
  [[nodiscard]] ApprovalSecret check_approval_secret(const SecretString& secret, bool pin_accepted);

  // The open vault's external-CLI switch is off (the plain settings file could be edited).
  [[nodiscard]] bool external_cli_off();
  // The open vault's rule settings as JSON ("" when it stores none); nothing while it is not
  // open.
  [[nodiscard]] std::optional<std::string> rules_json();

  // Runs `use` on the open vault's host `id` (the credentials for the SSH runner); false when
  // the vault is not open or has no such host.
  bool with_host(const std::string& id, const std::function<void(const VaultHost&)>& use);
  // Runs `use` on the open vault's host `id` and the host keys known for its address and port
  // (nullptr when there are none), as with_host does.
  bool with_ssh_host(const std::string& id,
                     const std::function<void(const VaultHost&, const KnownHostKeys*)>& use);

 private:
  void lock_locked(std::string_view why);
  void watch_idle();
  [[nodiscard]] VaultState closed_state();

  std::string path_;
  std::string data_dir_;  // where the record of `lock --all` is kept
  const ServiceLog& log_;
  std::optional<std::string> unlock_refused_;
  std::optional<std::uint64_t> idle_override_seconds_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::optional<UnlockedVault> vault_;
  bool app_locked_ = false;
  bool body_damaged_ = false;  // the right password met a body that fails to open
  bool stopping_ = false;
  std::chrono::steady_clock::time_point last_use_;
  std::function<void()> open_or_close_listener_;
  std::thread idle_watch_;
};

}  // namespace pendrel::desktop
