#include "desktop/broker/admin/hosts_edit.h"

#include <sodium.h>

#include <set>

#include "desktop/broker/admin/admin_channel.h"
#include "desktop/broker/admin/passed_file.h"
#include "desktop/broker/admin/password_option.h"
#include "desktop/broker/admin/vault_change.h"
#include "desktop/broker/vault/plain_hosts.h"
#include "desktop/shared/store/atomic_file.h"
#include "desktop/shared/store/hosts_file.h"
#include "protocol/fd_io.h"
#include "protocol/os_error.h"

namespace pendrel::desktop {
namespace {

// The largest private key file taken in: real ones are a few kilobytes.
constexpr std::size_t max_key_file_bytes = 64 * 1024;

std::expected<SecretString, AdminFailure> read_key_file(const std::string& path) {
  auto text = read_passed_file(path);
  if (!text)
    return std::unexpected(bad_input("cannot read " + path + ": " + os_error_text(text.error())));
  if (text->empty() || text->size() > max_key_file_bytes)
    return std::unexpected(bad_input(path + " does not look like a private key file"));
  SecretString key = SecretString::copy_of(*text);
  sodium_memzero(text->data(), text->size());
  return key;
}

// The person's changes to the host's command-line login. A login is made by --cli-user; its
// secrets are asked only once the checks have passed, so a refused change asks nothing.
std::expected<void, AdminFailure> apply_cli_login(const CliLoginOptions& options,
                                                  const PasswordSource& source, VaultHost& host) {
  if (options.remove) {
    host.cli_login.reset();
    return {};
  }
  if (!options.any()) {
    if (host.protocol == HostProtocol::local && host.cli_login)
      return std::unexpected(bad_input("host " + host.name +
                                       " has a command-line login, which a LOCAL host cannot use "
                                       "(it runs as you); remove it with --cli-login off"));
    return {};
  }
  if (host.protocol == HostProtocol::local)
    return std::unexpected(
        bad_input("a LOCAL host runs as you: a command-line login is for SSH hosts"));
  if (!host.cli_login && !options.username)
    return std::unexpected(
        bad_input("host " + host.name + " has no command-line login yet: give --cli-user first"));
  CliLogin& login = host.cli_login ? *host.cli_login : host.cli_login.emplace();
  if (options.username) login.username = *options.username;
  if (options.ask_password) {
    auto password = ask_password(
        source, "Password of " + login.username + " (command-line login of " + host.name + "): ");
    if (!password) return std::unexpected(password.error());
    login.credentials.password = std::move(*password);
  }
  if (options.key_file) {
    auto key = read_key_file(*options.key_file);
    if (!key) return std::unexpected(key.error());
    login.credentials.private_key = std::move(*key);
  }
  if (options.ask_key_passphrase) {
    auto passphrase = ask_password(source, "Passphrase of the command-line login's key: ");
    if (!passphrase) return std::unexpected(passphrase.error());
    login.credentials.key_passphrase = std::move(*passphrase);
  }
  if (options.agent) login.agent = *options.agent ? AgentUse::on : AgentUse::off;
  return {};
}

}  // namespace

std::expected<HostsEdit, AdminFailure> HostsEdit::begin(const AdminContext& context,
                                                        const PasswordSource& source,
                                                        bool needs_vault) {
  auto lock = StoreLock::acquire(context.data_dir);
  if (!lock) return std::unexpected(lock.error());
  HostsEdit edit(context, source, std::move(*lock));
  std::string path = vault_path(context.data_dir);
  auto present = inspect_vault(path);
  if (!present && present.error().failure == VaultFailure::missing) {
    if (needs_vault)
      return std::unexpected(
          bad_input("passwords and keys are kept in the vault only; create it "
                    "first with pendrel-desktop init"));
    auto hosts = load_hosts(context.data_dir);
    if (!hosts) return std::unexpected(bad_input(hosts.error()));
    edit.hosts_ = std::move(*hosts);
    return edit;
  }
  if (!present)
    return std::unexpected(bad_input("the vault cannot be read: " + present.error().detail));
  auto opened = open_with_master_password(path, source);
  if (!opened) return std::unexpected(opened.error());
  edit.master_ = std::move(opened->master);
  edit.hosts_ = plain_hosts_from(opened->vault.contents());
  edit.vault_.emplace(std::move(opened->vault));
  return edit;
}

std::expected<void, AdminFailure> HostsEdit::commit(const std::string& id,
                                                    const CredentialOptions& credentials,
                                                    const CliLoginOptions& cli_login) {
  if (!vault_) {
    if (auto saved = save_hosts(context_.data_dir, hosts_); !saved)
      return std::unexpected(bad_input(saved.error().text()));
    return {};
  }
  auto& stored = vault_->contents().hosts;
  std::set<std::string> kept;
  for (const auto& record : hosts_) {
    kept.insert(record.id);
    copy_listing(record, stored[record.id]);
  }
  std::erase_if(stored, [&](const auto& entry) { return !kept.contains(entry.first); });
  if (auto found = stored.find(id); found != stored.end()) {
    HostCredentials& secrets = found->second.credentials;
    if (credentials.ask_password) {
      auto password = ask_password(source_, "Password for " + found->second.name + ": ");
      if (!password) return std::unexpected(password.error());
      secrets.password = std::move(*password);
    }
    if (credentials.key_file) {
      auto key = read_key_file(*credentials.key_file);
      if (!key) return std::unexpected(key.error());
      secrets.private_key = std::move(*key);
    }
    if (credentials.ask_key_passphrase) {
      auto passphrase = ask_password(source_, "Passphrase of the key: ");
      if (!passphrase) return std::unexpected(passphrase.error());
      secrets.key_passphrase = std::move(*passphrase);
    }
    if (credentials.agent) found->second.agent = *credentials.agent ? AgentUse::on : AgentUse::off;
    if (auto applied = apply_cli_login(cli_login, source_, found->second); !applied) return applied;
  }
  if (auto saved = vault_->save(); !saved)
    return std::unexpected(bad_input("the vault was not saved: " + saved.error().detail));
  if (auto saved = save_hosts(context_.data_dir, plain_hosts_from(vault_->contents())); !saved)
    return std::unexpected(bad_input(saved.error().text()));
  // A service holding the vault open must not go on with the old hosts.
  if (auto told = ask_service(context_.data_dir, AdminOp::reload, &master_); !told)
    return std::unexpected(
        bad_input("saved, but the service did not take the change up: " + told.error().message));
  return {};
}

}  // namespace pendrel::desktop
