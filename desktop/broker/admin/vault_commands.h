// The person's vault commands: init, unlock, lock [--all], passwd.
#pragma once

#include <expected>

#include "desktop/broker/admin/admin_context.h"
#include "desktop/broker/admin/admin_failure.h"
#include "desktop/broker/admin/arguments.h"

namespace pendrel::desktop {

[[nodiscard]] std::expected<void, AdminFailure> init_vault(const AdminContext& context,
                                                           Arguments& args);
[[nodiscard]] std::expected<void, AdminFailure> unlock_vault(const AdminContext& context,
                                                             Arguments& args);
[[nodiscard]] std::expected<void, AdminFailure> lock_vault(const AdminContext& context,
                                                           Arguments& args);
[[nodiscard]] std::expected<void, AdminFailure> change_master_password(const AdminContext& context,
                                                                       Arguments& args);

}  // namespace pendrel::desktop
