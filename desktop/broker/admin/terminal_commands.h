// `term HOST`, `attach TERMINAL` and `terminals`: run in the person's own process, which
// carries everything the person types (it is made non-dumpable before anything else). The
// secret goes to the broker only, once its account is checked; the front never sees it.
#pragma once

#include <expected>

#include "desktop/broker/admin/admin_context.h"
#include "desktop/broker/admin/admin_failure.h"
#include "desktop/broker/admin/arguments.h"

namespace pendrel::desktop {

// Both end with the shell's exit status as the command's, one line saying why.
[[nodiscard]] std::expected<void, AdminFailure> open_terminal(const AdminContext& context,
                                                              Arguments& args);
[[nodiscard]] std::expected<void, AdminFailure> attach_terminal(const AdminContext& context,
                                                                Arguments& args);
[[nodiscard]] std::expected<void, AdminFailure> list_terminals(const AdminContext& context,
                                                               Arguments& args);

}  // namespace pendrel::desktop
