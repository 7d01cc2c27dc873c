// Building the error answers of the SSH path: a code from the shared table and a message that
// says what happened and what to do.
#pragma once

#include <string>

#include "protocol/error_code.h"
#include "protocol/messages.h"

namespace pendrel::desktop {

[[nodiscard]] ErrorBody ssh_failure(ErrorCode code, std::string message);

}  // namespace pendrel::desktop
