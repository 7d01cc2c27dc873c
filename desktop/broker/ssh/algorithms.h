// Which algorithms a session offers: libssh's defaults, the older ones after them for a host
// marked as a legacy device, and the accepted host key's type first.
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

// The host-key algorithms to offer, comma-separated: those that verify one of
// `accepted_types` ("ssh-ed25519", "ssh-rsa", …) first, so that a server with several keys
// shows the one the person accepted, then the rest in libssh's default order.
[[nodiscard]] std::string host_key_algorithms(LegacyAlgorithms legacy,
                                              const std::vector<std::string>& accepted_types);

// Sets every algorithm list on `session`. A list libssh refuses is internal.
[[nodiscard]] std::expected<void, ErrorBody> apply_algorithms(
    ssh_session session, LegacyAlgorithms legacy, const std::vector<std::string>& accepted_types);

// The algorithm_mismatch answer for libssh's negotiation failure ("kex error : no match for
// method …"), naming the method and what the server offers; nothing for another message.
[[nodiscard]] std::optional<ErrorBody> algorithm_mismatch_from(std::string_view libssh_message,
                                                               LegacyAlgorithms legacy);

}  // namespace pendrel::desktop
