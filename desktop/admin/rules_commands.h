// `rules list|add|remove|enable|disable|block`: the dangerous-command rules a person manages.
#pragma once

#include <expected>

#include "desktop/admin/admin_context.h"
#include "desktop/admin/admin_failure.h"
#include "desktop/admin/arguments.h"

namespace pendrel::desktop {

// Reads and edits the "rules" member of settings.json under the data directory's lock; the
// running service follows at its next exec. An edit the rules refuse (a taken name, a pattern
// RE2 refuses, removing a built-in) is bad input with the reason, and the file is unchanged.
[[nodiscard]] std::expected<void, AdminFailure> run_rules_command(const AdminContext& context,
                                                                  Arguments& args);

}  // namespace pendrel::desktop
