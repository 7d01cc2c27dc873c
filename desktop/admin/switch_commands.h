// `cli on|off` and `autostart on|off`: the two switches a person flips.
#pragma once

#include <expected>

#include "desktop/admin/admin_context.h"
#include "desktop/admin/admin_failure.h"
#include "desktop/admin/arguments.h"

namespace pendrel::desktop {

// Sets "externalCli" in settings.json; the running service follows at its next connection.
[[nodiscard]] std::expected<void, AdminFailure> switch_cli(const AdminContext& context,
                                                           Arguments& args);

// Sets "autoStart" in cli-launch.json, which decides whether pendrel may start the service.
[[nodiscard]] std::expected<void, AdminFailure> switch_autostart(const AdminContext& context,
                                                                 Arguments& args);

}  // namespace pendrel::desktop
