// One `hostkey` command's hold on the vault: the store lock, the vault opened with the master
// password, the host named on the command line, and saving what was decided about its server.
#pragma once

#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "desktop/broker/admin/admin_context.h"
#include "desktop/broker/admin/admin_failure.h"
#include "desktop/broker/admin/store_lock.h"
#include "desktop/broker/admin/vault_change.h"
#include "desktop/broker/ssh/ssh_target.h"
#include "desktop/broker/vault/password_input.h"
#include "desktop/broker/vault/unlocked_vault.h"

namespace pendrel::desktop {

class HostKeyEdit {
 public:
  // Takes the store lock, asks the master password, opens the vault and finds `wanted` (an id
  // or a name) among the vault's hosts. Fails when there is no vault (host keys live only
  // there), on a wrong password, for an unknown or ambiguous host (exit code 2 for unknown),
  // and for a LOCAL host, which has no host key. The lock is held until the edit goes, the
  // connection to the server included, so that no other change lands between reading the
  // vault and saving it.
  [[nodiscard]] static std::expected<HostKeyEdit, AdminFailure> begin(const AdminContext& context,
                                                                      const PasswordSource& source,
                                                                      std::string_view wanted);

  // The same with a master password the person gave already (at a terminal's opening).
  [[nodiscard]] static std::expected<HostKeyEdit, AdminFailure> begin_with_master(
      const AdminContext& context, const SecretString& master, std::string_view wanted);

  [[nodiscard]] const std::string& host_id() const { return id_; }
  [[nodiscard]] const VaultHost& host() const;
  // The vault's key for this host's server, "address:port".
  [[nodiscard]] const std::string& endpoint() const { return endpoint_; }
  // Where to connect, from the vault (never the plain hosts file, which an agent can edit).
  [[nodiscard]] SshTarget target() const;

  // What is known about the server; nothing when nothing is.
  [[nodiscard]] const KnownHostKeys* known() const;
  // The same, made when missing, for a change.
  [[nodiscard]] KnownHostKeys& known_for_change();
  // Drops everything known about the server.
  void forget();

  // Saves the vault (an empty entry is dropped first) and has a running service take the
  // change up with the same master password.
  [[nodiscard]] std::expected<void, AdminFailure> commit();

 private:
  [[nodiscard]] static std::expected<HostKeyEdit, AdminFailure> begin_opening(
      const AdminContext& context, std::string_view wanted,
      const std::function<std::expected<OpenedVault, AdminFailure>(const std::string&)>& open);
  HostKeyEdit(StoreLock lock, std::string data_dir)
      : lock_(std::move(lock)), data_dir_(std::move(data_dir)) {}

  StoreLock lock_;
  std::string data_dir_;
  std::optional<UnlockedVault> vault_;
  SecretString master_;
  std::string id_;
  std::string endpoint_;
};

}  // namespace pendrel::desktop
