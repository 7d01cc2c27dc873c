// One change of the saved hosts by a person's command. Without a vault the hosts file is the
// record; with one, the vault is (opened with the master password, which is what makes the
// change the person's), and the hosts file is rewritten from it. A running service is told
// to take the change up.
#pragma once

#include <expected>
#include <optional>
#include <string>
#include <vector>

#include "desktop/broker/admin/admin_context.h"
#include "desktop/broker/admin/admin_failure.h"
#include "desktop/broker/admin/store_lock.h"
#include "desktop/broker/vault/password_input.h"
#include "desktop/broker/vault/unlocked_vault.h"
#include "desktop/shared/store/host_record.h"

namespace pendrel::desktop {

// The secrets and agent use asked for on the command line (each asked, never given there).
struct CredentialOptions {
  bool ask_password = false;
  std::optional<std::string> key_file;  // its text goes into the vault
  bool ask_key_passphrase = false;
  std::optional<bool> agent;
  [[nodiscard]] bool any() const { return ask_password || key_file || ask_key_passphrase || agent; }
};

// The host's command-line login as asked on the command line: each option changes only what it
// names (secrets asked, never given there); `remove` drops the login.
struct CliLoginOptions {
  std::optional<std::string> username;  // --cli-user USER
  bool ask_password = false;            // --cli-password
  std::optional<std::string> key_file;  // --cli-key FILE
  bool ask_key_passphrase = false;      // --cli-key-passphrase
  std::optional<bool> agent;            // --cli-agent on|off
  bool remove = false;                  // --cli-login off
  [[nodiscard]] bool any() const {
    return username || ask_password || key_file || ask_key_passphrase || agent || remove;
  }
};

class HostsEdit {
 public:
  // Takes the store lock and reads the hosts; with a vault, asks the master password first.
  // `needs_vault`: the change stores a secret, which only the vault may hold.
  [[nodiscard]] static std::expected<HostsEdit, AdminFailure> begin(const AdminContext& context,
                                                                    const PasswordSource& source,
                                                                    bool needs_vault);

  [[nodiscard]] std::vector<HostRecord>& hosts() { return hosts_; }

  // Saves the hosts, with `credentials` and `cli_login` applied to host `id` (asked for here,
  // after the master password, in the order password, key passphrase, command-line password,
  // command-line key passphrase). Fails, saving nothing, when the command-line login would
  // have no user, or would belong to a LOCAL host (which runs as the person).
  [[nodiscard]] std::expected<void, AdminFailure> commit(const std::string& id,
                                                         const CredentialOptions& credentials,
                                                         const CliLoginOptions& cli_login = {});

 private:
  HostsEdit(const AdminContext& context, PasswordSource source, StoreLock lock)
      : context_(context), source_(source), lock_(std::move(lock)) {}

  const AdminContext& context_;
  PasswordSource source_;
  StoreLock lock_;
  std::vector<HostRecord> hosts_;
  std::optional<UnlockedVault> vault_;
  SecretString master_;
};

}  // namespace pendrel::desktop
