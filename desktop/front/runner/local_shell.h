// The person's own login shell in a pseudo-terminal, for a LOCAL host's terminal: the shell
// the password database names, started as a login shell in the home directory, as the
// session leader of the pty.
#pragma once

#include <expected>
#include <memory>
#include <string>

#include "desktop/shared/terminal/terminal_backend.h"
#include "protocol/messages.h"

namespace pendrel::desktop {

// `term` becomes the shell's TERM; `language` its LANG when not empty. Fails with
// internal and the reason when no pty or process can be had.
[[nodiscard]] std::expected<std::unique_ptr<TerminalBackend>, ErrorBody> open_local_shell(
    WindowSize size, const std::string& term, const std::string& language);

}  // namespace pendrel::desktop
