// `rules list|add|remove|enable|disable|block`: the dangerous-command rules a person manages.
#pragma once

#include <expected>

#include "desktop/broker/admin/admin_context.h"
#include "desktop/broker/admin/admin_failure.h"
#include "desktop/broker/admin/arguments.h"

namespace pendrel::desktop {

// Reads and edits the rules under the data directory's lock. Once a vault exists they are kept
// in it: every subcommand, `list` too, asks the master password (or reads it from
// --password-fd N), and settings.json gets a copy that the service can only use to make them
// stricter. Without a vault, the "rules" member of settings.json is the record. A running
// service follows at its next exec. An edit the rules refuse (a taken name, a pattern RE2
// refuses, removing a built-in) is bad input with the reason, and nothing is changed.
[[nodiscard]] std::expected<void, AdminFailure> run_rules_command(const AdminContext& context,
                                                                  Arguments& args);

}  // namespace pendrel::desktop
