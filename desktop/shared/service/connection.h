// Serving one accepted connection: the peer check, the handshake, one request, one answer.
#pragma once

#include "desktop/shared/service/service_context.h"
#include "protocol/unique_fd.h"

namespace pendrel::desktop {

// Inline so that tests and the admin commands can name what the service answers with.
inline constexpr std::uint32_t service_protocol = 1;

// Serves the connection to its end and closes it. A peer of another uid is closed without an
// answer; a frame that is oversized, truncated or not sent in time ends the connection (the
// service log says why); a Hello or request that is not valid is answered bad_request. Every
// request, and every refused handshake, gets an audit line before its answer is sent.
void serve_connection(UniqueFd socket, ServiceContext& context);

}  // namespace pendrel::desktop
