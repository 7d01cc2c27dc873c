// The vault's cryptography, all of it libsodium: argon2id key derivation, XChaCha20-Poly1305
// wrapping of the data key and sealing of the body.
#pragma once

#include <expected>
#include <span>
#include <variant>
#include <vector>

#include "desktop/broker/vault/secret_bytes.h"
#include "desktop/broker/vault/vault_format.h"

namespace pendrel::desktop {

// The 32-byte key argon2id derives from the password with the header's parameters and salt;
// nothing when the derivation cannot get its memory.
[[nodiscard]] std::expected<SecretBytes, std::monostate> derive_password_key(
    const SecretString& password, const VaultHeader& header);

// A new random data key.
[[nodiscard]] SecretBytes make_data_key();

// Picks a fresh key nonce and stores `data_key` sealed under `password_key` in the header,
// the header's first bytes as associated data.
void wrap_data_key(VaultHeader& header, const SecretBytes& data_key,
                   const SecretBytes& password_key);

// The data key, or nothing when the wrapped key does not open under `password_key`.
[[nodiscard]] std::expected<SecretBytes, std::monostate> unwrap_data_key(
    const VaultHeader& header, const SecretBytes& password_key);

// The whole file: picks a fresh body nonce, then writes the header and `body` sealed under
// `data_key` with the header as associated data.
[[nodiscard]] std::vector<unsigned char> seal_vault_file(VaultHeader& header,
                                                         const SecretBytes& data_key,
                                                         const SecretBytes& body);

// The body of `file` (whose header is `header`), or nothing when it fails to authenticate.
[[nodiscard]] std::expected<SecretBytes, std::monostate> open_vault_body(
    std::span<const unsigned char> file, const VaultHeader& header, const SecretBytes& data_key);

}  // namespace pendrel::desktop
