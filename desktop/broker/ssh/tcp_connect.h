// The TCP connection an SSH session runs over, made here rather than by libssh so that every
// address of a name is tried under one deadline.
#pragma once

#include <chrono>
#include <cstdint>
#include <expected>
#include <string>

#include "protocol/messages.h"
#include "protocol/unique_fd.h"

namespace pendrel::desktop {

// Resolves `address` in the calling thread, then tries each address in turn until one
// connects, all within `timeout`. The socket is blocking again, with TCP_NODELAY, and
// `dead_link_after` bounds both a send the peer never acknowledges and the kernel's
// keep-alive probes of an idle link. An unresolvable name, refusal, unreachability or the
// deadline passing is connect_failed with the cause (the last address's, when all failed).
[[nodiscard]] std::expected<UniqueFd, ErrorBody> connect_tcp(
    const std::string& address, std::uint16_t port, std::chrono::milliseconds timeout,
    std::chrono::milliseconds dead_link_after);

}  // namespace pendrel::desktop
