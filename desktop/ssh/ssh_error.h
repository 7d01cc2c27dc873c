// Building the error answers of the SSH path: a code from the shared table and a message that
// says what happened and what to do.
#pragma once

#include <chrono>
#include <string>

#include "protocol/error_code.h"
#include "protocol/messages.h"

namespace pendrel::desktop {

[[nodiscard]] ErrorBody ssh_failure(ErrorCode code, std::string message);

// A timeout for a message: "10 s", "0.4 s".
[[nodiscard]] std::string seconds_text(std::chrono::milliseconds duration);

}  // namespace pendrel::desktop
