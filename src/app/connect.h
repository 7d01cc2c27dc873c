// connect_and_request: the one road to the desktop application. Finds its data directory,
// connects (starting it without a window when it is not running and the launch settings allow),
// sends one request and returns the answer.
#pragma once

#include <expected>
#include <string>

#include "app/command.h"
#include "protocol/messages.h"

namespace pendrel {

// The answer, of any kind but an error answer; or, after the failure has been reported once
// through report_error, the exit code to end with. The channel is closed in every case.
[[nodiscard]] std::expected<Response, int> connect_and_request(const Invocation& invocation,
                                                               Request request);

// How a request is named in the diagnostic lines: "ls", "exec（主机 web-1）", ...
[[nodiscard]] std::string request_label(const Request& request);

}  // namespace pendrel
