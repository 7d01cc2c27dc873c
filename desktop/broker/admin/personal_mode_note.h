// What the person is told when pendrel-desktop runs without a broker, in their own account.
#pragma once

#include "desktop/broker/admin/admin_context.h"

namespace pendrel::desktop {

// Writes to standard error, in personal mode only, that a process of the person's account can
// defeat the vault in this mode, and how to install the broker.
void note_personal_mode(const AdminContext& context);

}  // namespace pendrel::desktop
