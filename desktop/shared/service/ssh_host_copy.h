// One SSH host's target, credentials and known host keys copied out of the open vault, so that
// no lock is held while the request connects and runs; the secret copies are wiped with it.
#pragma once

#include <optional>
#include <string>

#include "desktop/broker/ssh/ssh_target.h"
#include "desktop/broker/vault/secret_bytes.h"
#include "desktop/shared/service/vault_keeper.h"

namespace pendrel::desktop {

struct SshHostCopy {
  SshTarget target;
  std::optional<SecretString> password;
  std::optional<SecretString> private_key;
  std::optional<SecretString> key_passphrase;
  UseAgent agent = UseAgent::no;
  TrustedHostKeys keys;

  // Views of the copies above: valid while this copy lives.
  [[nodiscard]] SshCredentials credentials() const;
};

// The vault's host `id` as the SSH runner needs it; nothing when the vault is not open or has
// no such host. The address, port and user come from the vault, never the plain hosts file.
[[nodiscard]] std::optional<SshHostCopy> copy_ssh_host(VaultKeeper& vault, const std::string& id);

}  // namespace pendrel::desktop
