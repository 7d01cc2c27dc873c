// Copying one file to or from an SSH host over SFTP, with scp's rules for the target and
// memory bounded whatever the file's size.
#pragma once

#include <sys/types.h>

#include <expected>
#include <string>

#include "desktop/broker/ssh/ssh_target.h"
#include "desktop/broker/ssh/warm_connections.h"
#include "desktop/front/runner/cancel_watch.h"
#include "protocol/messages.h"
#include "protocol/unique_fd.h"

namespace pendrel::desktop {

// Uploads the local file `local` (an absolute path) to `remote`. A remote path that ends with
// "/" or names a directory gets the local file's name appended. The data goes to a temporary
// file beside the target, which then replaces the target in one step (or, on a server without
// an atomic rename, after the old file stepped aside): the target is never a half file, and an
// existing file's permissions carry over. A failed upload removes its temporary file. The answer
// holds `local`, the canonical remote path written, the bytes and the duration. Fails as
// open_ssh_session does, and with path_not_found / permission_denied (either side), bad_request
// (the local path is a directory or not a regular file), path_exists (the final remote path is
// a directory), sftp_unavailable, connect_failed (the link broke or went silent for
// target.dead_link_after), or canceled (`cancel` fired or target.max_duration passed).
// With warm connections in `source`, as ssh_exec.
[[nodiscard]] std::expected<TransferResponse, ErrorBody> ssh_upload(
    const SshTarget& target, const SshCredentials& credentials, const TrustedHostKeys& keys,
    const std::string& local, const std::string& remote, const CancelWatch& cancel,
    const ConnectionSource& source = {});

// Downloads `remote` to `local` (an absolute path). A local path "." (its directory), an
// existing directory or one ending with "/" gets the remote file's name appended. The data
// goes to a temporary file beside the target, renamed over it when complete, so a failure
// never leaves a half file under the target's name. The answer holds the local path written,
// the canonical remote path, the bytes and the duration. Fails like ssh_upload, with
// bad_request for a remote directory and path_exists when the final local path is a directory.
[[nodiscard]] std::expected<TransferResponse, ErrorBody> ssh_download(
    const SshTarget& target, const SshCredentials& credentials, const TrustedHostKeys& keys,
    const std::string& remote, const std::string& local, const CancelWatch& cancel,
    const ConnectionSource& source = {});

// ssh_upload from `source`, a file the person's front opened (the broker never opens a
// person's file by name); `local` names it in the answer and the failures.
[[nodiscard]] std::expected<TransferResponse, ErrorBody> ssh_upload_descriptor(
    const SshTarget& target, const SshCredentials& credentials, const TrustedHostKeys& keys,
    UniqueFd source, const std::string& local, const std::string& remote, const CancelWatch& cancel,
    const ConnectionSource& connection_source = {});

// ssh_download into `sink`, the temporary file the person's front made beside its target: no
// rename here (the front renames it once told), and the answer's `local` is as given. `mode`
// is the one the file is to have.
struct DescriptorDownload {
  TransferResponse response;
  mode_t mode = 0644;
};
[[nodiscard]] std::expected<DescriptorDownload, ErrorBody> ssh_download_descriptor(
    const SshTarget& target, const SshCredentials& credentials, const TrustedHostKeys& keys,
    const std::string& remote, int sink, const std::string& local, const CancelWatch& cancel,
    const ConnectionSource& connection_source = {});

}  // namespace pendrel::desktop
