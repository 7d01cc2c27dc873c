// The terminal's view of a login shell running on an SSH channel: a socketpair whose far end a
// thread of its own pumps to and from the channel. That thread alone calls libssh for the
// session, keeps it alive and notices a host that went away.
#pragma once

#include <chrono>
#include <expected>
#include <memory>
#include <string>

#include "desktop/broker/ssh/libssh_handles.h"
#include "desktop/shared/terminal/terminal_backend.h"
#include "protocol/messages.h"

namespace pendrel::desktop {

struct ShellLink {
  std::string host;  // names the host in the ending's reason
  // A link over which the host sends nothing for this long ends the shell as lost.
  std::chrono::milliseconds dead_link_after{60'000};
};

// Takes over `session` and its `channel`, on which the shell already runs, and starts the
// pumping thread. Fails with internal when the descriptors or the thread cannot be made.
[[nodiscard]] std::expected<std::unique_ptr<TerminalBackend>, ErrorBody> start_ssh_shell_backend(
    OwnedSession session, OwnedChannel channel, ShellLink link);

}  // namespace pendrel::desktop
