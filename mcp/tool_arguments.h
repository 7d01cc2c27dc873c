// A tool call's arguments checked as pendrel checks its command line, and turned into the
// request for the desktop application.
#pragma once

#include <simdjson.h>

#include <expected>
#include <vector>

#include "i18n/language.h"
#include "mcp/tools.h"
#include "output/failure.h"
#include "protocol/messages.h"

namespace pendrel::mcp {

// The most a command may hold, as much as pendrel reads from standard input.
inline constexpr std::size_t max_command_bytes = 1048576;

// `arguments` is the call's "arguments" object, empty when it had none. Each argument must have
// its schema's type, the required ones must be present and no other may be: a breach is a
// usage failure naming the argument. Then pendrel's checks: a command that is only white space
// (or longer than max_command_bytes) is refused; host and paths of a copy may not be empty, and
// the local path must be absolute (it is normalised like pendrel's, "." and "//" removed).
// The request carries `caller` as its caller list.
[[nodiscard]] std::expected<Request, CliFailure> request_for_tool(Tool tool,
                                                                  simdjson::dom::object arguments,
                                                                  Language language,
                                                                  std::vector<std::string> caller);

}  // namespace pendrel::mcp
