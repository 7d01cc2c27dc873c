// `host add|set|remove|list|show`: the person's edits of the hosts file.
#pragma once

#include <expected>

#include "desktop/broker/admin/admin_context.h"
#include "desktop/broker/admin/admin_failure.h"
#include "desktop/broker/admin/arguments.h"

namespace pendrel::desktop {

// `args` starts after "host".
[[nodiscard]] std::expected<void, AdminFailure> run_host_command(const AdminContext& context,
                                                                 Arguments& args);

}  // namespace pendrel::desktop
