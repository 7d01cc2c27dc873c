#include "desktop/broker/admin/vault_change.h"

#include "desktop/broker/admin/admin_channel.h"
#include "desktop/broker/admin/password_option.h"
#include "desktop/broker/vault/plain_hosts.h"

namespace pendrel::desktop {

std::expected<OpenedVault, AdminFailure> open_with_master_password(const std::string& path,
                                                                   const PasswordSource& source) {
  auto master = ask_password(source, master_prompt);
  if (!master) return std::unexpected(master.error());
  auto vault = UnlockedVault::open(path, *master);
  if (!vault)
    return std::unexpected(bad_input(vault.error().failure == VaultFailure::wrong_password
                                         ? "wrong password; nothing changed"
                                         : "the vault cannot be opened: " + vault.error().detail));
  return OpenedVault{std::move(*vault), std::move(*master)};
}

std::expected<std::optional<VaultChange>, AdminFailure> VaultChange::begin(
    const AdminContext& context, const PasswordSource& source) {
  std::string path = vault_path(context.data_dir);
  if (auto present = inspect_vault(path); !present) {
    if (present.error().failure == VaultFailure::missing) return std::nullopt;
    return std::unexpected(bad_input("the vault cannot be read: " + present.error().detail));
  }
  auto opened = open_with_master_password(path, source);
  if (!opened) return std::unexpected(opened.error());
  return VaultChange(context, std::move(opened->vault), std::move(opened->master));
}

std::expected<void, AdminFailure> VaultChange::commit() {
  if (auto saved = vault_.save(); !saved)
    return std::unexpected(bad_input("the vault was not saved: " + saved.error().detail));
  if (auto told = ask_service(context_->data_dir, AdminOp::reload, &master_); !told)
    return std::unexpected(
        bad_input("saved, but the service did not take the change up: " + told.error().message));
  return {};
}

}  // namespace pendrel::desktop
