// One change of what the vault keeps, made by a person's command: the vault opened with the
// master password (which is what makes the change the person's), saved, and the running
// service told to take it up.
#pragma once

#include <expected>
#include <optional>

#include "desktop/broker/admin/admin_context.h"
#include "desktop/broker/admin/admin_failure.h"
#include "desktop/broker/vault/password_input.h"
#include "desktop/broker/vault/unlocked_vault.h"

namespace pendrel::desktop {

// The vault opened by a person, with the master password kept for the reload after the change.
struct OpenedVault {
  UnlockedVault vault;
  SecretString master;
};

// Asks the master password from `source` and opens the vault at `path` with it. A wrong
// password, or a vault that cannot be opened, is the failure and nothing changes.
[[nodiscard]] std::expected<OpenedVault, AdminFailure> open_with_master_password(
    const std::string& path, const PasswordSource& source);

class VaultChange {
 public:
  // Nothing when there is no vault at all; otherwise asks the master password from `source`
  // and opens the vault. A wrong password, or a vault that cannot be read, is the failure and
  // nothing changes. The caller holds the data directory's lock.
  [[nodiscard]] static std::expected<std::optional<VaultChange>, AdminFailure> begin(
      const AdminContext& context, const PasswordSource& source);

  [[nodiscard]] VaultContents& contents() { return vault_.contents(); }

  // Saves the vault and has a running service reopen it.
  [[nodiscard]] std::expected<void, AdminFailure> commit();

 private:
  VaultChange(const AdminContext& context, UnlockedVault vault, SecretString master)
      : context_(&context), vault_(std::move(vault)), master_(std::move(master)) {}

  const AdminContext* context_;
  UnlockedVault vault_;
  SecretString master_;
};

}  // namespace pendrel::desktop
