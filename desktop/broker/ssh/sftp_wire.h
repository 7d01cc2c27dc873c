// SFTP requests sent and answered on libssh's SFTP channel by hand, for what libssh 0.10 cannot
// do: many writes in flight at once (its sftp_write waits one round trip per write), and
// OpenSSH's atomic rename. Call only between libssh's own SFTP calls: each function here waits
// for all of its answers, so the stream is back at a packet boundary when it returns.
#pragma once

#include <libssh/sftp.h>

#include <cstdint>
#include <expected>
#include <string>

#include "desktop/broker/ssh/request_stop.h"

namespace pendrel::desktop {

struct WireFailure {
  enum class Kind { link, status, local, stopped } kind = Kind::link;
  std::uint32_t status = 0;              // the server's SSH_FX_ code, for Kind::status
  std::string message;                   // the server's words, or libssh's for Kind::link
  int local_errno = 0;                   // for Kind::local
  StopReason reason = StopReason::none;  // for Kind::stopped
};

// Writes everything `source` (a local descriptor) holds from its current position to `file`
// from offset 0, keeping up to `in_flight` writes unanswered. Returns the bytes written, all
// acknowledged by the server.
[[nodiscard]] std::expected<std::uint64_t, WireFailure> write_pipelined(sftp_file file, int source,
                                                                        int in_flight,
                                                                        RequestStop& stop);

// Replaces `to` with `from` in one step (posix-rename@openssh.com); check the extension first.
[[nodiscard]] std::expected<void, WireFailure> posix_rename(sftp_session sftp,
                                                            const std::string& from,
                                                            const std::string& to);

}  // namespace pendrel::desktop
