// `pendrel-desktop broker`: the system service that holds, for every person on the machine,
// what an agent running as that person must not reach (the vaults, SSH, the rules, the
// approvals, the audit), each person's apart, told apart by the uid of the connecting process.
#pragma once

#include <span>
#include <string>

namespace pendrel::desktop {

// Runs until SIGTERM or SIGINT; the exit code. See desktop/broker/broker_link.h for what
// travels over its socket.
[[nodiscard]] int run_broker(std::span<const std::string> args);

}  // namespace pendrel::desktop
