// A person's command sent to the broker, which runs it on the person's state and reads any
// password from the person's terminal itself: this process only hands over its standard
// streams, its terminal and the files named on the command line, and only once it knows the
// peer runs as the broker's account.
#pragma once

#include <expected>
#include <span>
#include <string>

#include "desktop/broker/admin/admin_failure.h"
#include "desktop/shared/link/broker_address.h"

namespace pendrel::desktop {

// True for the commands whose state lives in the broker (everything but `stop`, `autostart`
// and `help`, which concern the person's front, and the terminals' commands, which talk to the
// broker themselves).
[[nodiscard]] bool runs_in_broker(std::string_view command);

// The command's exit code as the broker reports it. Fails when the broker cannot be reached or
// its socket is served by another account (nothing is sent then), or a file named by --key
// cannot be opened. When `unreachable` is given, it is set when nobody listens on the broker's
// socket (nothing was sent then either).
[[nodiscard]] std::expected<int, AdminFailure> run_in_broker(const BrokerAddress& broker,
                                                             std::span<const std::string> args,
                                                             bool* unreachable = nullptr);

}  // namespace pendrel::desktop
