// The vault's body: VaultContents as JSON text in guarded memory, and back.
#pragma once

#include <expected>
#include <string>

#include "desktop/broker/vault/secret_bytes.h"
#include "desktop/broker/vault/vault_contents.h"

namespace pendrel::desktop {

// The contents as one compact JSON object. Fails, naming the fault, when check_contents does;
// nothing is written then. No copy of a secret is left outside guarded memory.
[[nodiscard]] std::expected<SecretBytes, std::string> encode_vault_body(
    const VaultContents& contents);

// Reads a body written by encode_vault_body, validating it fully: any syntax error, unknown or
// repeated member, missing member, wrong type or value out of range is a failure naming it.
[[nodiscard]] std::expected<VaultContents, std::string> decode_vault_body(const SecretBytes& text);

}  // namespace pendrel::desktop
