// Building the error answers of the SSH path: a code from the shared table and a message that
// says what happened and what to do.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "protocol/error_code.h"
#include "protocol/messages.h"

namespace pendrel::desktop {

[[nodiscard]] ErrorBody ssh_failure(ErrorCode code, std::string message);

// Text from the server (a prompt, an algorithm list) fit for a message: valid UTF-8, control
// characters as spaces, at most `max_bytes` bytes with "…" when cut.
[[nodiscard]] std::string server_text(std::string_view text, std::size_t max_bytes = 200);

// A timeout for a message: "10 s", "0.4 s".
[[nodiscard]] std::string seconds_text(std::chrono::milliseconds duration);

}  // namespace pendrel::desktop
