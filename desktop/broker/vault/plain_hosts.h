// The plain hosts file as a copy of the vault: what listing needs while the vault is locked,
// and the check that a plain entry still says what the vault says.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "desktop/broker/vault/vault_contents.h"
#include "desktop/broker/vault/vault_format.h"
#include "desktop/shared/store/host_record.h"
#include "protocol/environment.h"

namespace pendrel::desktop {

inline constexpr std::string_view vault_file_name = "vault.bin";

// <data_dir>/vault.bin.
[[nodiscard]] std::string vault_path(const std::string& data_dir);

// The hosts file's entries for the vault's hosts, in id order, without any secret: a host
// with a password, a key or the agent allowed has the credential reference "vault", and a host
// with a command-line login names that login's user (a name, not a secret).
[[nodiscard]] std::vector<HostRecord> plain_hosts_from(const VaultContents& contents);

// The listing fields of `record` (name, tags, address, port, username, protocol, cli, and the
// SSH options: legacy algorithms, connect timeout, time limit) onto the vault's host; its
// agent use and its secrets stay as they are.
void copy_listing(const HostRecord& record, VaultHost& host);

// The vault's record of every host of `plain`, secrets empty: what `init` takes over.
[[nodiscard]] VaultContents contents_from_plain(const std::vector<HostRecord>& plain);

// The first field in which the plain entry differs from the vault's host (address, port,
// username, protocol, cli, the SSH options, the command-line login's user), or nothing when
// they agree.
[[nodiscard]] std::optional<std::string> plain_disagreement(const HostRecord& plain,
                                                            const VaultHost& vault);

// Whether the person's login of a host can log in at all: a stored password or key, or the
// agent allowed.
[[nodiscard]] bool has_credential(const VaultHost& host);

// The same for the login pendrel's requests use: the command-line login when the host has
// one, else the person's.
[[nodiscard]] bool requests_can_log_in(const VaultHost& host);

// MODERATE, unless PENDREL_DESKTOP_TEST_KDF=interactive asks for the fast parameters that the
// tests use (a vault made that way is much cheaper to attack: never for a person's vault).
[[nodiscard]] KdfStrength kdf_strength_for(const Environment& environment);

}  // namespace pendrel::desktop
