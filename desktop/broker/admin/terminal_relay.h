// The person's side of an attached terminal: their terminal in raw mode, bytes both ways
// with the service, the window size at the start and on every change, Ctrl-\ to detach, and
// the terminal restored on every way out.
#pragma once

#include <string>

#include "desktop/shared/terminal/terminal_backend.h"

namespace pendrel::desktop {

// The byte that detaches: Ctrl-\.
inline constexpr char detach_key = '\x1c';

struct RelayEnd {
  int exit_code = 0;  // the shell's exit status; 0 after a detach or a take-over; 1 when cut
  std::string line;   // why it ended, for the person
};

// The size of the person's terminal (standard output's, else standard input's), or 24×80.
[[nodiscard]] WindowSize current_window_size();

// Relays between the person's terminal (standard input and output) and `socket`, attached to
// terminal `id` on `host_name`, until the shell ends, the person detaches, another client
// takes over, the connection is lost or a signal ends this process.
[[nodiscard]] RelayEnd relay_terminal(int socket, const std::string& id,
                                      const std::string& host_name);

}  // namespace pendrel::desktop
