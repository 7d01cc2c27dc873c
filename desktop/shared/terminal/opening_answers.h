// The last answer of a terminal's opening, from the person's service or the front: the
// terminal is attached from here on, or why not.
#pragma once

#include <string>
#include <string_view>

#include "desktop/shared/terminal/terminal.h"

namespace pendrel::desktop {

// {"ok":true,"id":…,"hostName":…}: terminal_frames.h follows on the same connection.
[[nodiscard]] std::string attached_answer(const TerminalInfo& terminal);

// {"ok":false,"code":…,"error":…}, `code` being an error code's text or "wrong_secret".
[[nodiscard]] std::string refused_answer(std::string_view code, std::string_view error);

}  // namespace pendrel::desktop
