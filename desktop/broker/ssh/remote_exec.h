// Running one command on an SSH host: one new session channel per request, no pseudo-terminal.
#pragma once

#include <cstddef>
#include <expected>
#include <string_view>

#include "desktop/broker/ssh/ssh_target.h"
#include "desktop/broker/ssh/warm_connections.h"
#include "desktop/front/runner/cancel_watch.h"
#include "protocol/messages.h"

namespace pendrel::desktop {

// Each of stdout and stderr is cut at this many bytes.
inline constexpr std::size_t remote_stream_limit = 1'048'576;

// Connects and logs in (see open_ssh_session for those failures), then runs `command` as the
// remote user's shell reads it. A command too long for one argument is sent on the channel's
// input to a short command that reads and runs it (command_on_stdin.h), which needs a login
// shell that reads POSIX shell (sh, bash, ksh, zsh). stdout and stderr are kept apart, each cut at
// remote_stream_limit bytes while the rest is read and dropped ("truncated"), invalid UTF-8
// replaced by U+FFFD; the exit code is the command's status, 128 + the signal number after a
// signal death, or -1 when the server reported neither. When `cancel` fires, or the command
// outlives target.max_duration, the command gets TERM, then KILL, the channel is closed and
// the answer is canceled, saying which. A connection lost meanwhile is connect_failed.
// With warm connections in `source`, a kept connection serves when there is one (the command
// still gets a session and process of its own on the host), and the connection is kept after
// a command that ran to its end.
[[nodiscard]] std::expected<ExecResponse, ErrorBody> ssh_exec(
    const SshTarget& target, const SshCredentials& credentials, const TrustedHostKeys& keys,
    std::string_view command, const CancelWatch& cancel, const ConnectionSource& source = {});

}  // namespace pendrel::desktop
