// The person's commands talking to the running service over run/admin.sock (the messages are
// described in desktop/service/admin_session.h).
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>

#include "desktop/broker/admin/admin_failure.h"
#include "desktop/broker/vault/secret_bytes.h"

namespace pendrel::desktop {

struct VaultReport {
  std::string state;  // needs_setup, locked, unlocked, key_lost
  bool app_locked = false;
  std::uint64_t idle_lock_seconds = 0;
  std::optional<std::string> unlock_refused;
  std::uint64_t terminals = 0;  // open SSH terminals
};

enum class AdminOp { status, unlock, reload, lock, lock_all };

// Sends one request and reads the answer. Nothing when no service listens on the socket; a
// refusal by the service is the failure, with its reason. `password` goes with unlock and
// reload only.
[[nodiscard]] std::expected<std::optional<VaultReport>, AdminFailure> ask_service(
    const std::string& data_dir, AdminOp op, const SecretString* password = nullptr);

}  // namespace pendrel::desktop
