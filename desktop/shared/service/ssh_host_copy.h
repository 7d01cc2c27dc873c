// One SSH host's target, credentials and known host keys copied out of the open vault, so that
// no lock is held while the request connects and runs; the secret copies are wiped with it.
#pragma once

#include <optional>
#include <string>

#include "desktop/broker/ssh/ssh_target.h"
#include "desktop/broker/vault/secret_bytes.h"
#include "desktop/shared/service/vault_keeper.h"

namespace pendrel::desktop {

// Whose login a copy is for: pendrel's requests (the host's command-line login when it has
// one, else the person's), or the person's own terminals (always the person's).
enum class LoginFor { requests, person };

struct SshHostCopy {
  SshTarget target;  // target.username is the user of `login`
  HostLogin login = HostLogin::person;
  std::optional<SecretString> password;
  std::optional<SecretString> private_key;
  std::optional<SecretString> key_passphrase;
  UseAgent agent = UseAgent::no;
  TrustedHostKeys keys;

  // Views of the copies above: valid while this copy lives.
  [[nodiscard]] SshCredentials credentials() const;
};

// The vault's host `id` as the SSH runner needs it, with the login `use` chooses; nothing when
// the vault is not open or has no such host. The address, port and user come from the vault,
// never the plain hosts file.
[[nodiscard]] std::optional<SshHostCopy> copy_ssh_host(VaultKeeper& vault, const std::string& id,
                                                       LoginFor use);

// Whether the open vault's host `id` has a command-line login; false while the vault is not
// open or has no such host.
[[nodiscard]] bool has_cli_login(VaultKeeper& vault, const std::string& id);

}  // namespace pendrel::desktop
