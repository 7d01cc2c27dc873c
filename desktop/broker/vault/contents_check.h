// The rules a VaultContents must keep so that a saved vault always reads back.
#pragma once

#include <expected>
#include <string>

#include "desktop/broker/vault/vault_contents.h"

namespace pendrel::desktop {

// Nothing when the contents can be stored and read back; otherwise what is wrong, naming the
// host or key but never a secret. Checked before every save (a vault that could not be read
// back would lose everything in it) and after every read.
[[nodiscard]] std::expected<void, std::string> check_contents(const VaultContents& contents);

}  // namespace pendrel::desktop
