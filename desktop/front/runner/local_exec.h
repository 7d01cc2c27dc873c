// Running a command of a LOCAL host: /bin/sh -c on this machine, as this user.
#pragma once

#include <cstddef>
#include <expected>
#include <string>
#include <string_view>

#include "desktop/front/runner/cancel_watch.h"
#include "protocol/messages.h"

namespace pendrel::desktop {

// Each stream is cut at this many bytes; the rest is read and dropped.
inline constexpr std::size_t max_stream_bytes = 1'048'576;

// Runs `/bin/sh -c -- command` in a new process group, in `home_dir`, with standard input on
// /dev/null and no descriptor above 2 inherited; a command too long for one argument is read
// by the shell from its standard input first (command_on_stdin.h), to the same effect. stdout and
// stderr are captured apart, each cut at max_stream_bytes on a character boundary ("truncated" then
// true), invalid UTF-8 replaced by U+FFFD; the exit status is the command's, or 128 + the signal
// number. When a descriptor of `cancel` fires, the process group gets SIGTERM, then SIGKILL after a
// short grace, and the result is the error `canceled`. A command that cannot be started is
// `internal` with the system's reason.
[[nodiscard]] std::expected<ExecResponse, ErrorBody> run_local_command(std::string_view command,
                                                                       const std::string& home_dir,
                                                                       const CancelWatch& cancel);

}  // namespace pendrel::desktop
