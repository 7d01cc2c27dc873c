#include "desktop/broker/admin/hostkey_edit.h"

#include <chrono>

#include "desktop/broker/admin/admin_channel.h"
#include "desktop/broker/admin/password_option.h"
#include "desktop/broker/admin/vault_change.h"
#include "desktop/broker/vault/plain_hosts.h"
#include "desktop/broker/vault/vault_contents.h"
#include "desktop/shared/store/host_lookup.h"

namespace pendrel::desktop {

std::expected<HostKeyEdit, AdminFailure> HostKeyEdit::begin(const AdminContext& context,
                                                            const PasswordSource& source,
                                                            std::string_view wanted) {
  return begin_opening(context, wanted, [&source](const std::string& path) {
    return open_with_master_password(path, source);
  });
}

std::expected<HostKeyEdit, AdminFailure> HostKeyEdit::begin_with_master(const AdminContext& context,
                                                                        const SecretString& master,
                                                                        std::string_view wanted) {
  return begin_opening(
      context, wanted,
      [&master](const std::string& path) -> std::expected<OpenedVault, AdminFailure> {
        auto vault = UnlockedVault::open(path, master);
        if (!vault)
          return std::unexpected(
              bad_input(vault.error().failure == VaultFailure::wrong_password
                            ? "wrong password; nothing changed"
                            : "the vault cannot be opened: " + vault.error().detail));
        return OpenedVault{std::move(*vault), master.clone()};
      });
}

std::expected<HostKeyEdit, AdminFailure> HostKeyEdit::begin_opening(
    const AdminContext& context, std::string_view wanted,
    const std::function<std::expected<OpenedVault, AdminFailure>(const std::string&)>& open) {
  auto lock = StoreLock::acquire(context.data_dir);
  if (!lock) return std::unexpected(lock.error());
  HostKeyEdit edit(std::move(*lock), context.data_dir);
  std::string path = vault_path(context.data_dir);
  if (auto present = inspect_vault(path); !present) {
    if (present.error().failure == VaultFailure::missing)
      return std::unexpected(
          bad_input("host keys are kept in the vault only; create it first with "
                    "pendrel-desktop init"));
    return std::unexpected(bad_input("the vault cannot be read: " + present.error().detail));
  }
  auto opened = open(path);
  if (!opened) return std::unexpected(opened.error());
  // Looked up as the host commands do, but among the vault's own hosts.
  auto hosts = plain_hosts_from(opened->vault.contents());
  auto found = find_saved_host(hosts, wanted);
  if (!found) {
    if (found.error().code == "host_not_found")
      return std::unexpected(no_such_host(found.error().message));
    return std::unexpected(bad_input(found.error().message));
  }
  edit.id_ = hosts[*found].id;
  const VaultHost& host = opened->vault.contents().hosts.at(edit.id_);
  if (host.protocol == HostProtocol::local)
    return std::unexpected(bad_input("host " + host.name +
                                     " is LOCAL: it runs on this machine, with no SSH server "
                                     "and so no host key"));
  edit.endpoint_ = host_key_entry(host.address, host.port);
  edit.master_ = std::move(opened->master);
  edit.vault_.emplace(std::move(opened->vault));
  return edit;
}

const VaultHost& HostKeyEdit::host() const {
  return vault_->contents().hosts.at(id_);
}

SshTarget HostKeyEdit::target() const {
  const VaultHost& saved = host();
  SshTarget target;
  target.address = saved.address;
  target.port = saved.port;
  target.username = saved.username;
  target.legacy = saved.legacy_algorithms;
  target.connect_timeout = std::chrono::seconds(saved.connect_timeout_sec);
  return target;
}

const KnownHostKeys* HostKeyEdit::known() const {
  const auto& keys = vault_->contents().host_keys;
  auto found = keys.find(endpoint_);
  return found == keys.end() ? nullptr : &found->second;
}

KnownHostKeys& HostKeyEdit::known_for_change() {
  return vault_->contents().host_keys[endpoint_];
}

void HostKeyEdit::forget() {
  vault_->contents().host_keys.erase(endpoint_);
}

std::expected<void, AdminFailure> HostKeyEdit::commit() {
  auto& keys = vault_->contents().host_keys;
  if (auto entry = keys.find(endpoint_); entry != keys.end() && entry->second.accepted.empty() &&
                                         entry->second.rejected_fingerprints.empty()) {
    keys.erase(entry);
  }
  if (auto saved = vault_->save(); !saved)
    return std::unexpected(bad_input("the vault was not saved: " + saved.error().detail));
  // A service holding the vault open checks host keys against its own copy.
  if (auto told = ask_service(data_dir_, AdminOp::reload, &master_); !told)
    return std::unexpected(
        bad_input("saved, but the service did not take the change up: " + told.error().message));
  return {};
}

}  // namespace pendrel::desktop
