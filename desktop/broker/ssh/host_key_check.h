// The server's host key, read after the key exchange, and the decision whether to go on: the
// key must be one the person accepted for this address and port, and not one they rejected.
#pragma once

#include <libssh/libssh.h>

#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "desktop/broker/ssh/ssh_target.h"
#include "protocol/messages.h"

namespace pendrel::desktop {

// Type, SHA256 fingerprint and "type base64" line of the key the server proved it holds.
[[nodiscard]] std::expected<HostKeyFacts, ErrorBody> read_server_host_key(ssh_session session);

// The type and fingerprint of an accepted line ("type base64 [comment]", or a known_hosts
// line "host type base64"); nothing for a line that holds no readable key.
[[nodiscard]] std::optional<HostKeyFacts> parse_host_key_line(std::string_view line);

// The key types among `keys.accepted`, in their order, for choosing what the server shows.
[[nodiscard]] std::vector<std::string> accepted_key_types(const TrustedHostKeys& keys);

// Passes when `presented` is accepted and not rejected. A rejected fingerprint is
// hostkey_rejected, no accepted key hostkey_unknown (type and fingerprint in the message),
// another accepted key hostkey_mismatch (both fingerprints). `endpoint` names the server in
// the message.
[[nodiscard]] std::expected<void, ErrorBody> check_host_key(const HostKeyFacts& presented,
                                                            const TrustedHostKeys& keys,
                                                            const std::string& endpoint);

}  // namespace pendrel::desktop
