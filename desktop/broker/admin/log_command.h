// `log [-n N] [-f]`: the last lines of the audit log, and the ones that follow.
#pragma once

#include <expected>

#include "desktop/broker/admin/admin_context.h"
#include "desktop/broker/admin/admin_failure.h"
#include "desktop/broker/admin/arguments.h"

namespace pendrel::desktop {

// Prints the last N (default 10) lines of logs/audit.jsonl as they are. With -f it then
// prints each line as it is appended, following the file across rotation, until the person
// interrupts or standard output closes. A missing log is no lines.
[[nodiscard]] std::expected<void, AdminFailure> show_log(const AdminContext& context,
                                                         Arguments& args);

}  // namespace pendrel::desktop
