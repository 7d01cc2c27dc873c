// One connection on run/admin.sock: the person's commands talking to the running service.
//
// The same frames as run/cli.sock (a 4-byte big-endian length, then one JSON object), one
// request and one answer per connection, no handshake. Requests:
//   {"op":"status"}
//   {"op":"unlock","password":"…"}       also takes up a change a command saved to the vault
//   {"op":"reload","password":"…"}       after a change: reopens the vault if it is open
//   {"op":"lock","all":false}            "all": refuse every request until the next unlock
//   {"op":"console"}                     stays open: a console (approval_events.h)
//   {"op":"terminal","pid":P}            from the broker: a client's terminal connection
//                                        follows (desktop/broker/terminal_access/)
// Answers: {"ok":true,"state":"needs_setup|locked|unlocked|key_lost","appLocked":false,
// "idleLockSeconds":3600,"terminals":N[,"unlockRefused":"…"]} (N: the open SSH terminals), or
// {"ok":false,"error":"…"}.
#pragma once

#include "desktop/shared/service/service_context.h"
#include "protocol/unique_fd.h"

namespace pendrel::desktop {

void serve_admin_connection(UniqueFd socket, ServiceContext& context);

}  // namespace pendrel::desktop
