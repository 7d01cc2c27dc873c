// `cli on|off`, `autostart on|off` and `autolock MINUTES`: the settings a person switches.
#pragma once

#include <expected>

#include "desktop/broker/admin/admin_context.h"
#include "desktop/broker/admin/admin_failure.h"
#include "desktop/broker/admin/arguments.h"

namespace pendrel::desktop {

// Sets "externalCli" in settings.json, and with a vault in the vault too (asking the master
// password), where the plain file cannot turn it back on while the vault is open. The running
// service follows at its next connection.
[[nodiscard]] std::expected<void, AdminFailure> switch_cli(const AdminContext& context,
                                                           Arguments& args);

// Sets "autoStart" in cli-launch.json, which decides whether pendrel may start the service.
[[nodiscard]] std::expected<void, AdminFailure> switch_autostart(const AdminContext& context,
                                                                 Arguments& args);

// Sets how long the open vault may go unused before the service locks it (in the vault, asking
// the master password; there is no idle lock without a vault).
[[nodiscard]] std::expected<void, AdminFailure> set_idle_lock(const AdminContext& context,
                                                              Arguments& args);

}  // namespace pendrel::desktop
