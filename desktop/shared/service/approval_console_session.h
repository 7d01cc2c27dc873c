// One attached console on run/admin.sock ({"op":"console"}): the events pushed to it and the
// decisions it sends, until it or the service goes (the frames: approval_events.h).
#pragma once

#include <sys/types.h>

#include "desktop/shared/service/service_context.h"
#include "protocol/unique_fd.h"

namespace pendrel::desktop {

// Serves the console on `socket` to its end. An approval counts only with a secret the
// service checks itself: the vault's approval PIN or the master password.
void serve_console(UniqueFd socket, ServiceContext& context, pid_t pid);

}  // namespace pendrel::desktop
