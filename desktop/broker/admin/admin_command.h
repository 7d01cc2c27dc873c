// The person's commands of pendrel-desktop (everything but running the service itself).
#pragma once

#include <span>
#include <string>

namespace pendrel::desktop {

// Runs one command (`host add …`, `status`, `help`, …) given the arguments after the program
// name, and returns the process exit code: 0 on success, 1 for bad input, 2 when the thing
// named does not exist, 3 when the service is needed and not running. Prints its own output
// and errors; never prints a stored secret.
// With a broker configured (desktop/link/broker_address.h), every command but stop, autostart
// and help runs in the broker instead; `here` is how the broker itself runs one, on the
// person's state directory.
enum class AdminRoute { broker_when_configured, here };
[[nodiscard]] int run_admin_command(std::span<const std::string> args,
                                    AdminRoute route = AdminRoute::broker_when_configured);

}  // namespace pendrel::desktop
