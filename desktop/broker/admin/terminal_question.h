// Asking the person a yes-or-no question on the controlling terminal, never on standard input:
// a script's input must not be able to answer for the person.
#pragma once

#include <expected>
#include <string_view>

#include "desktop/broker/admin/admin_failure.h"

namespace pendrel::desktop {

// Writes `question` to /dev/tty and reads one line there: true for "y" or "yes" (any case),
// false for anything else, an empty line and the end of input included. Fails when there is
// no terminal, saying so with `without_terminal` (what to do instead).
[[nodiscard]] std::expected<bool, AdminFailure> ask_yes_no(std::string_view question,
                                                           std::string_view without_terminal);

}  // namespace pendrel::desktop
