// `status` and `stop`: the person's view of the running service.
#pragma once

#include <expected>

#include "desktop/broker/admin/admin_context.h"
#include "desktop/broker/admin/admin_failure.h"
#include "desktop/broker/admin/arguments.h"

namespace pendrel::desktop {

// Prints whether the service runs, its pid, version, socket path and the number of hosts.
// A service that is not running is exit code 3, after the report.
[[nodiscard]] std::expected<void, AdminFailure> show_status(const AdminContext& context,
                                                            Arguments& args);

// Sends SIGTERM to the service and waits, bounded, until it is gone: its socket no longer
// answers and its lock is free. A service that is not running is not an error.
[[nodiscard]] std::expected<void, AdminFailure> stop_service(const AdminContext& context,
                                                             Arguments& args);

}  // namespace pendrel::desktop
