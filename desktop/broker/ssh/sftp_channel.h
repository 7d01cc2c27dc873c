// What both transfer directions share: an SFTP session on a logged-in connection, the
// meaning of SFTP and local errors, and the file-name rules of scp.
#pragma once

#include <libssh/sftp.h>

#include <expected>
#include <string>
#include <string_view>

#include "desktop/broker/ssh/libssh_handles.h"
#include "desktop/broker/ssh/warm_connections.h"
#include "protocol/messages.h"

namespace pendrel::desktop {

// Bytes per SFTP write: below OpenSSH's 256 KiB message limit with room for the header
// (libssh 0.10 does not split writes itself).
inline constexpr std::size_t sftp_write_chunk = 255 * 1024;
// Writes sent before the first answer is awaited: enough to fill a distant link (8 MiB).
inline constexpr int sftp_writes_in_flight = 32;
// Bytes per pipelined read, and how many reads are in flight at once.
inline constexpr std::uint32_t sftp_read_chunk = 128 * 1024;
inline constexpr int sftp_reads_in_flight = 32;
// The receive window a download keeps open: the reads in flight and their headers fit.
inline constexpr std::uint32_t sftp_download_window = 6 * 1024 * 1024;

// The SFTP subsystem, or sftp_unavailable when the server has none or it does not start.
[[nodiscard]] std::expected<OwnedSftp, ErrorBody> open_sftp(ssh_session session);

// A connection from `source` and the SFTP subsystem on it; a kept connection that cannot start
// it (the host ended the connection meanwhile) gives way to a new one.
struct SftpOnLease {
  SessionLease lease;
  OwnedSftp sftp;  // declared last: ends before the lease gives its connection back
};
[[nodiscard]] std::expected<SftpOnLease, ErrorBody> open_sftp_from(
    const ConnectionSource& source, const SshTarget& target, const SshCredentials& credentials,
    const TrustedHostKeys& keys);

// The answer for the SFTP failure just reported on `sftp` while doing `what` to `path`:
// connect_failed when the link broke or went silent, else as sftp_status_failure.
[[nodiscard]] ErrorBody sftp_failure(sftp_session sftp, std::string_view what,
                                     std::string_view path);

// The answer for the server's SSH_FX_ `status` while doing `what` to `path`: path_not_found,
// permission_denied, path_exists, or internal with the server's words.
[[nodiscard]] ErrorBody sftp_status_failure(int status, std::string_view server_words,
                                            std::string_view what, std::string_view path);

// The answer for a link that broke or went silent while doing `what` to `path`.
[[nodiscard]] ErrorBody sftp_link_failure(std::string_view cause, std::string_view what,
                                          std::string_view path);

// The same for a local errno.
[[nodiscard]] ErrorBody local_failure(int error_number, std::string_view what,
                                      std::string_view path);

// The last component of `path` ("a/b.txt" gives "b.txt"; a trailing "/" is ignored).
[[nodiscard]] std::string base_name(std::string_view path);

// The canonical form of `path` on the server, or `path` itself when it cannot be had.
[[nodiscard]] std::string canonical_remote_path(sftp_session sftp, const std::string& path);

}  // namespace pendrel::desktop
