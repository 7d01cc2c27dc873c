// The approval console and its PIN: `pendrel-desktop console` and `pin set|clear`.
#pragma once

#include <expected>

#include "desktop/broker/admin/admin_context.h"
#include "desktop/broker/admin/admin_failure.h"
#include "desktop/broker/admin/arguments.h"

namespace pendrel::desktop {

// Attaches this terminal to the running service until the person quits.
[[nodiscard]] std::expected<void, AdminFailure> open_console(const AdminContext& context,
                                                             Arguments& args);

// `pin set` stores a new approval PIN in the vault (asked twice, kept as a password hash);
// `pin clear` removes it. Both ask for the master password and tell a running service.
[[nodiscard]] std::expected<void, AdminFailure> run_pin_command(const AdminContext& context,
                                                                Arguments& args);

// The shortest PIN accepted: a wrong guess costs a key derivation and five in a row stop the
// PIN, but a PIN is still the weaker of the two secrets.
inline constexpr std::size_t min_pin_bytes = 6;

}  // namespace pendrel::desktop
