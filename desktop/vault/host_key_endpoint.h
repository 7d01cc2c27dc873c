// Where the vault files a server's host keys: under the host's "address:port", so that every
// host saved with that address and port shares what the person decided about the server.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "desktop/vault/vault_contents.h"

namespace pendrel::desktop {

// "192.0.2.10:22"; an IPv6 literal keeps its colons ("::1:22"), the port being the last field.
[[nodiscard]] inline std::string host_key_endpoint(std::string_view address, std::uint16_t port) {
  return std::string(address) + ":" + std::to_string(port);
}

// The accepted key as the SSH library takes it: "type base64".
[[nodiscard]] inline std::string accepted_key_line(const AcceptedHostKey& key) {
  return key.key_type + " " + key.blob_base64;
}

}  // namespace pendrel::desktop
