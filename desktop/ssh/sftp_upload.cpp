// The upload half of sftp_transfer.h.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <vector>

#include "desktop/ssh/request_stop.h"
#include "desktop/ssh/sftp_channel.h"
#include "desktop/ssh/sftp_transfer.h"
#include "desktop/ssh/ssh_connection.h"
#include "desktop/ssh/ssh_error.h"
#include "protocol/unique_fd.h"

namespace pendrel::desktop {
namespace {

using Clock = std::chrono::steady_clock;

struct LocalSource {
  UniqueFd fd;
  mode_t mode = 0644;
};

// Takes `fd` (open for reading) as the source, if it is a regular file.
std::expected<LocalSource, ErrorBody> take_source(UniqueFd fd, const std::string& local) {
  LocalSource source{std::move(fd), 0644};
  struct stat facts {};
  if (::fstat(source.fd.get(), &facts) != 0) {
    return std::unexpected(local_failure(errno, "read", local));
  }
  if (S_ISDIR(facts.st_mode)) {
    return std::unexpected(ssh_failure(ErrorCode::bad_request,
                                       local + " is a directory; only single files are copied"));
  }
  // A pipe or device could block the request for ever or never end.
  if (!S_ISREG(facts.st_mode)) {
    return std::unexpected(ssh_failure(ErrorCode::bad_request,
                                       local + " is not a regular file; only files are copied"));
  }
  source.mode = facts.st_mode & 0777;
  return source;
}

std::expected<LocalSource, ErrorBody> open_source(const std::string& local) {
  UniqueFd fd(::open(local.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return std::unexpected(local_failure(errno, "read", local));
  return take_source(std::move(fd), local);
}

// scp's rule: a remote directory, or a path ending with "/", receives the local name.
std::expected<std::string, ErrorBody> final_remote_path(sftp_session sftp,
                                                        const std::string& remote,
                                                        const std::string& local) {
  std::string target = remote.empty() ? "." : remote;
  if (target.back() == '/') {
    target += base_name(local);
  } else {
    OwnedAttributes attributes(sftp_stat(sftp, target.c_str()));
    if (attributes && attributes->type == SSH_FILEXFER_TYPE_DIRECTORY) {
      target += '/';
      target += base_name(local);
    }
  }
  // OpenSSH answers a bare FAILURE for opening a directory for writing; ask first.
  OwnedAttributes final_attributes(sftp_stat(sftp, target.c_str()));
  if (final_attributes && final_attributes->type == SSH_FILEXFER_TYPE_DIRECTORY) {
    return std::unexpected(ssh_failure(
        ErrorCode::path_exists,
        target + " on the host is a directory; give a file name or a directory to copy into"));
  }
  return target;
}

std::expected<TransferResponse, ErrorBody> upload(
    const SshTarget& target, const SshCredentials& credentials, const TrustedHostKeys& keys,
    std::expected<LocalSource, ErrorBody> source, const std::string& local,
    const std::string& remote, const CancelWatch& cancel) {
  const Clock::time_point started = Clock::now();
  RequestStop stop(cancel, target.max_duration, started);
  if (!source) return std::unexpected(source.error());
  auto session = open_ssh_session(target, credentials, keys);
  if (!session) return std::unexpected(session.error());
  auto sftp = open_sftp(session->get());
  if (!sftp) return std::unexpected(sftp.error());
  auto path = final_remote_path(sftp->get(), remote, local);
  if (!path) return std::unexpected(path.error());

  OwnedSftpFile file(
      sftp_open(sftp->get(), path->c_str(), O_WRONLY | O_CREAT | O_TRUNC, source->mode));
  if (!file) return std::unexpected(sftp_failure(sftp->get(), "write", *path));
  std::vector<char> buffer(sftp_write_chunk);
  std::uint64_t bytes = 0;
  for (;;) {
    if (auto reason = stop.check(); reason != StopReason::none) {
      return std::unexpected(stop.failure(reason, "the upload"));
    }
    ssize_t got = ::read(source->fd.get(), buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::unexpected(local_failure(errno, "read", local));
    if (got == 0) break;
    std::size_t done = 0;
    while (done < static_cast<std::size_t>(got)) {
      ssize_t written =
          sftp_write(file.get(), buffer.data() + done, static_cast<std::size_t>(got) - done);
      if (written <= 0) return std::unexpected(sftp_failure(sftp->get(), "write", *path));
      done += static_cast<std::size_t>(written);
    }
    bytes += static_cast<std::uint64_t>(got);
  }
  // Closing reports the server's last word on the data (a full disk shows up here).
  if (sftp_close(file.release()) != SSH_OK) {
    return std::unexpected(sftp_failure(sftp->get(), "finish writing", *path));
  }
  TransferResponse response;
  response.local = local;
  response.remote = canonical_remote_path(sftp->get(), *path);
  response.bytes = bytes;
  response.duration_ms = static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count());
  return response;
}

}  // namespace

std::expected<TransferResponse, ErrorBody> ssh_upload(
    const SshTarget& target, const SshCredentials& credentials, const TrustedHostKeys& keys,
    const std::string& local, const std::string& remote, const CancelWatch& cancel) {
  return upload(target, credentials, keys, open_source(local), local, remote, cancel);
}

std::expected<TransferResponse, ErrorBody> ssh_upload_descriptor(
    const SshTarget& target, const SshCredentials& credentials, const TrustedHostKeys& keys,
    UniqueFd source, const std::string& local, const std::string& remote,
    const CancelWatch& cancel) {
  return upload(target, credentials, keys, take_source(std::move(source), local), local, remote,
                cancel);
}

}  // namespace pendrel::desktop
