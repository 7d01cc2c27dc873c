// Reading the host's private key from its stored text, and telling apart why it cannot be
// used: a passphrase missing or wrong, a format libssh cannot read, or text that is no key.
#pragma once

#include <expected>
#include <optional>

#include "desktop/broker/ssh/libssh_handles.h"
#include "desktop/broker/ssh/ssh_target.h"
#include "protocol/messages.h"

namespace pendrel::desktop {

// The key, or key_passphrase_required (encrypted, no passphrase stored), key_wrong_passphrase
// (encrypted, the stored one does not open it), key_unsupported (a recognised format that
// cannot be used: PuTTY, the SSH2 export format, a security-key type, an unknown OpenSSH
// cipher or KDF) or key_invalid (anything else).
[[nodiscard]] std::expected<OwnedKey, ErrorBody> import_private_key(
    SecretView text, std::optional<SecretView> passphrase);

}  // namespace pendrel::desktop
