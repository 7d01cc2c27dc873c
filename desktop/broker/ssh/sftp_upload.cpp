// The upload half of sftp_transfer.h.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <optional>
#include <random>
#include <string>

#include "desktop/broker/ssh/link_watch.h"
#include "desktop/broker/ssh/request_stop.h"
#include "desktop/broker/ssh/sftp_channel.h"
#include "desktop/broker/ssh/sftp_transfer.h"
#include "desktop/broker/ssh/sftp_wire.h"
#include "desktop/broker/ssh/ssh_connection.h"
#include "desktop/broker/ssh/ssh_error.h"
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

// Where the upload lands: the path by scp's rule, and the permissions of a file already there,
// which the new file takes over.
struct RemoteTarget {
  std::string path;
  std::optional<mode_t> existing_mode;
};

// scp's rule: a remote directory, or a path ending with "/", receives the local name.
std::expected<RemoteTarget, ErrorBody> final_remote_path(sftp_session sftp,
                                                         const std::string& remote,
                                                         const std::string& local) {
  RemoteTarget target{remote.empty() ? "." : remote, std::nullopt};
  OwnedAttributes attributes;
  if (target.path.back() == '/') {
    target.path += base_name(local);
  } else {
    attributes.reset(sftp_stat(sftp, target.path.c_str()));
    if (attributes && attributes->type == SSH_FILEXFER_TYPE_DIRECTORY) {
      target.path += '/';
      target.path += base_name(local);
      attributes.reset();
    }
  }
  // The final path is asked about once: OpenSSH answers a bare FAILURE for a directory.
  if (!attributes) attributes.reset(sftp_stat(sftp, target.path.c_str()));
  if (attributes && attributes->type == SSH_FILEXFER_TYPE_DIRECTORY) {
    return std::unexpected(ssh_failure(
        ErrorCode::path_exists,
        target.path + " on the host is a directory; give a file name or a directory to copy "
                      "into"));
  }
  if (attributes) target.existing_mode = attributes->permissions & 0777;
  return target;
}

// A name beside `target` that no one else uses: the data goes there first, so that the
// target is never a half-written file.
std::string temporary_name_beside(const std::string& target) {
  auto slash = target.rfind('/');
  std::string directory = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  std::random_device random;
  const char* digits = "0123456789abcdef";
  std::string suffix;
  for (int i = 0; i < 12; ++i)
    suffix.push_back(digits[random() % 16]);
  return directory + "." + base_name(target) + ".pendrel-" + suffix;
}

ErrorBody wire_failure(const WireFailure& failure, const RequestStop& stop,
                       const std::string& local, const std::string& path) {
  switch (failure.kind) {
    case WireFailure::Kind::stopped:
      return stop.failure(failure.reason, "the upload");
    case WireFailure::Kind::local:
      return local_failure(failure.local_errno, "read", local);
    case WireFailure::Kind::status:
      return sftp_status_failure(static_cast<int>(failure.status), failure.message, "write", path);
    case WireFailure::Kind::link:
      break;
  }
  return sftp_link_failure(failure.message, "write", path);
}

// Puts the complete temporary file in the target's place. With OpenSSH's posix-rename the
// target is replaced in one step. Without it a plain rename refuses an existing target, so
// the old file steps aside first and is removed last: at every moment the old file or the
// new one is there, under its name or the one beside it.
std::expected<void, ErrorBody> replace_target(sftp_session sftp, const std::string& temporary,
                                              const RemoteTarget& target) {
  if (sftp_extension_supported(sftp, "posix-rename@openssh.com", "1") != 0) {
    auto renamed = posix_rename(sftp, temporary, target.path);
    if (renamed) return {};
    if (renamed.error().kind == WireFailure::Kind::link) {
      return std::unexpected(sftp_link_failure(renamed.error().message, "write", target.path));
    }
    return std::unexpected(sftp_status_failure(static_cast<int>(renamed.error().status),
                                               renamed.error().message, "write", target.path));
  }
  if (!target.existing_mode) {
    if (sftp_rename(sftp, temporary.c_str(), target.path.c_str()) == SSH_OK) return {};
    return std::unexpected(sftp_failure(sftp, "write", target.path));
  }
  const std::string old_copy = temporary_name_beside(target.path);
  if (sftp_rename(sftp, target.path.c_str(), old_copy.c_str()) != SSH_OK) {
    return std::unexpected(sftp_failure(sftp, "write", target.path));
  }
  if (sftp_rename(sftp, temporary.c_str(), target.path.c_str()) != SSH_OK) {
    ErrorBody failure = sftp_failure(sftp, "write", target.path);
    sftp_rename(sftp, old_copy.c_str(), target.path.c_str());
    return std::unexpected(failure);
  }
  sftp_unlink(sftp, old_copy.c_str());
  return {};
}

// Sends the local file to the open `file` (the temporary one) and puts it in the target's
// place; the bytes written.
std::expected<std::uint64_t, ErrorBody> write_and_replace(sftp_session sftp, OwnedSftpFile file,
                                                          const std::string& temporary,
                                                          const RemoteTarget& destination,
                                                          const LocalSource& source,
                                                          const std::string& local,
                                                          RequestStop& stop) {
  auto bytes = write_pipelined(file.get(), source.fd.get(), sftp_writes_in_flight, stop);
  if (!bytes) return std::unexpected(wire_failure(bytes.error(), stop, local, destination.path));
  // Closing reports the server's last word on the data (a full disk shows up here).
  if (sftp_close(file.release()) != SSH_OK) {
    return std::unexpected(sftp_failure(sftp, "finish writing", destination.path));
  }
  if (auto replaced = replace_target(sftp, temporary, destination); !replaced) {
    return std::unexpected(replaced.error());
  }
  return *bytes;
}

// Removes the temporary file of an upload that did not complete. Over a broken link the
// removal is tried once more on a new connection, bounded by the host's connect timeout; a
// host that cannot be reached keeps the file (its name starts with a dot and says whose).
void remove_temporary(sftp_session sftp, const std::string& path, const SshTarget& target,
                      const SshCredentials& credentials, const TrustedHostKeys& keys) {
  if (ssh_is_connected(sftp->session) != 0 && ssh_get_error_code(sftp->session) != SSH_FATAL &&
      sftp_unlink(sftp, path.c_str()) == SSH_OK) {
    return;
  }
  auto session = open_ssh_session(target, credentials, keys);
  if (!session) return;
  auto another = open_sftp(session->get());
  if (another) sftp_unlink(another->get(), path.c_str());
}

std::expected<TransferResponse, ErrorBody> upload(
    const SshTarget& target, const SshCredentials& credentials, const TrustedHostKeys& keys,
    std::expected<LocalSource, ErrorBody> file_to_send, const std::string& local,
    const std::string& remote, const CancelWatch& cancel, const ConnectionSource& source) {
  const Clock::time_point started = Clock::now();
  RequestStop stop(cancel, target.max_duration, started);
  if (!file_to_send) return std::unexpected(file_to_send.error());
  auto connection = open_sftp_from(source, target, credentials, keys);
  if (!connection) return std::unexpected(connection.error());
  LinkWatchdog watchdog(connection->lease.get(), target.dead_link_after);
  OwnedSftp& sftp = connection->sftp;
  auto destination = final_remote_path(sftp.get(), remote, local);
  if (!destination) return std::unexpected(destination.error());
  const std::string& path = destination->path;

  const mode_t mode = destination->existing_mode.value_or(file_to_send->mode);
  const std::string temporary = temporary_name_beside(path);
  OwnedSftpFile file(sftp_open(sftp.get(), temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL, mode));
  if (!file) return std::unexpected(sftp_failure(sftp.get(), "write", path));
  auto bytes = write_and_replace(sftp.get(), std::move(file), temporary, *destination,
                                 *file_to_send, local, stop);
  if (!bytes) {
    remove_temporary(sftp.get(), temporary, target, credentials, keys);
    return std::unexpected(bytes.error());
  }
  TransferResponse response;
  response.local = local;
  response.remote = canonical_remote_path(sftp.get(), path);
  response.bytes = *bytes;
  response.duration_ms = static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count());
  connection->lease.keep_warm();
  return response;
}

}  // namespace

std::expected<TransferResponse, ErrorBody> ssh_upload(
    const SshTarget& target, const SshCredentials& credentials, const TrustedHostKeys& keys,
    const std::string& local, const std::string& remote, const CancelWatch& cancel,
    const ConnectionSource& source) {
  return upload(target, credentials, keys, open_source(local), local, remote, cancel, source);
}

std::expected<TransferResponse, ErrorBody> ssh_upload_descriptor(
    const SshTarget& target, const SshCredentials& credentials, const TrustedHostKeys& keys,
    UniqueFd source, const std::string& local, const std::string& remote, const CancelWatch& cancel,
    const ConnectionSource& connection_source) {
  return upload(target, credentials, keys, take_source(std::move(source), local), local, remote,
                cancel, connection_source);
}

}  // namespace pendrel::desktop
