// The download half of sftp_transfer.h.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <memory>
#include <vector>

#include "desktop/broker/ssh/link_watch.h"
#include "desktop/broker/ssh/request_stop.h"
#include "desktop/broker/ssh/sftp_channel.h"
#include "desktop/broker/ssh/sftp_transfer.h"
#include "desktop/broker/ssh/ssh_connection.h"
#include "desktop/broker/ssh/ssh_error.h"
#include "protocol/fd_io.h"
#include "protocol/lexical_path.h"
#include "protocol/unique_fd.h"

namespace pendrel::desktop {
namespace {

using Clock = std::chrono::steady_clock;

// scp's rule: ".", a directory, or a path ending with "/" receives the remote name.
std::expected<std::string, ErrorBody> final_local_path(const std::string& local,
                                                       const std::string& remote) {
  std::string target = local;
  struct stat facts {};
  bool is_directory = ::stat(target.c_str(), &facts) == 0 && S_ISDIR(facts.st_mode);
  if (target.ends_with('/') || target.ends_with("/.") || target == "." || is_directory) {
    target = join_path(target, base_name(remote));
  }
  if (::stat(target.c_str(), &facts) == 0 && S_ISDIR(facts.st_mode)) {
    return std::unexpected(
        ssh_failure(ErrorCode::path_exists,
                    target + " is a directory; give a file name or a directory to copy into"));
  }
  return target;
}

// A file beside the target that becomes it by rename, or is removed.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::string& target) {
    auto slash = target.rfind('/');
    std::string directory = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    path_ = directory + "." + base_name(target) + ".pendrel-XXXXXX";
    fd_.reset(::mkostemp(path_.data(), O_CLOEXEC));
    if (!fd_) path_.clear();
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  [[nodiscard]] bool valid() const { return fd_.valid(); }
  [[nodiscard]] int fd() const { return fd_.get(); }
  // Moves the complete file to `target`: the temporary name is gone either way.
  int install(const std::string& target, mode_t mode) {
    int error = 0;
    if (::fchmod(fd_.get(), mode) != 0 || ::fsync(fd_.get()) != 0 ||
        ::rename(path_.c_str(), target.c_str()) != 0) {
      error = errno;
    } else {
      path_.clear();
    }
    fd_.reset();
    return error;
  }

 private:
  std::string path_;
  UniqueFd fd_;
};

struct CopyFailure {
  StopReason reason = StopReason::none;  // set when stopped
  int local_errno = 0;                   // set when the local write failed
};                                       // neither: the SFTP read failed

// Copies the whole remote file to `out` with reads pipelined: the server answers the next
// ones while this one is written out. libssh moves the offset on by a whole chunk per
// request, so a short answer before the end (a server that caps its reads) would leave a
// gap: the answers still in flight are dropped, the offset is set back to what was received,
// and reading goes on in chunks of the size the server gave.
// libssh 0.10 keeps an SFTP channel's receive window near 1.2 MB, which bounds a download to
// that much per round trip. Asking to read more than the window holds from the channel's
// other stream (an SFTP server writes nothing there) makes libssh open the window that far;
// with a zero timeout the call only handles what has already arrived.
class WindowKeeper {
 public:
  explicit WindowKeeper(ssh_channel channel)
      : channel_(channel), scratch_(new char[sftp_download_window]) {}
  bool keep_open() {
    return ssh_channel_read_timeout(channel_, scratch_.get(), sftp_download_window, 1, 0) >= 0;
  }

 private:
  ssh_channel channel_;
  std::unique_ptr<char[]> scratch_;  // where stray bytes of that stream go
};

std::expected<std::uint64_t, CopyFailure> copy_remote_file(sftp_file file, int out,
                                                           RequestStop& stop) {
  WindowKeeper window(file->sftp->channel);
  std::deque<std::uint32_t> pending;
  std::vector<char> buffer(sftp_read_chunk);
  std::uint32_t chunk = sftp_read_chunk;
  std::uint64_t bytes = 0;
  auto fill = [&]() -> bool {
    if (!window.keep_open()) return false;
    while (pending.size() < static_cast<std::size_t>(sftp_reads_in_flight)) {
      int id = sftp_async_read_begin(file, chunk);
      if (id < 0) return false;
      pending.push_back(static_cast<std::uint32_t>(id));
    }
    return true;
  };
  auto drop_pending = [&]() -> bool {
    for (std::uint32_t id : pending) {
      if (sftp_async_read(file, buffer.data(), sftp_read_chunk, id) < 0) return false;
    }
    pending.clear();
    return true;
  };
  if (!fill()) return std::unexpected(CopyFailure{});
  for (;;) {
    if (auto reason = stop.check(); reason != StopReason::none) {
      return std::unexpected(CopyFailure{reason, 0});
    }
    int got = sftp_async_read(file, buffer.data(), chunk, pending.front());
    pending.pop_front();
    if (got < 0) return std::unexpected(CopyFailure{});
    if (got == 0) break;  // the end: the answers after it are ends too
    auto written = write_all(out, std::string_view(buffer.data(), static_cast<std::size_t>(got)));
    if (!written)
      return std::unexpected(CopyFailure{StopReason::none, written.error().error_number});
    bytes += static_cast<std::uint64_t>(got);
    if (static_cast<std::uint32_t>(got) < chunk) {
      if (!drop_pending() || sftp_seek64(file, bytes) != 0) return std::unexpected(CopyFailure{});
      chunk = static_cast<std::uint32_t>(got);
    }
    if (!fill()) return std::unexpected(CopyFailure{});
  }
  if (!drop_pending()) return std::unexpected(CopyFailure{});
  return bytes;
}

// The remote file opened for reading, with what it is, and the watch on its link. Declared in
// the order they end backwards: the file is closed and the watch stopped while the
// connection still stands.
struct RemoteSource {
  SftpOnLease connection;
  std::unique_ptr<LinkWatchdog> watchdog;
  OwnedAttributes attributes;
  OwnedSftpFile file;
  [[nodiscard]] sftp_session sftp() const { return connection.sftp.get(); }
};

std::expected<RemoteSource, ErrorBody> open_remote(const SshTarget& target,
                                                   const SshCredentials& credentials,
                                                   const TrustedHostKeys& keys,
                                                   const std::string& remote,
                                                   const ConnectionSource& connection_source) {
  auto connection = open_sftp_from(connection_source, target, credentials, keys);
  if (!connection) return std::unexpected(connection.error());
  RemoteSource source{std::move(*connection), nullptr, {}, {}};
  source.watchdog =
      std::make_unique<LinkWatchdog>(source.connection.lease.get(), target.dead_link_after);
  source.attributes.reset(sftp_stat(source.sftp(), remote.c_str()));
  if (!source.attributes) return std::unexpected(sftp_failure(source.sftp(), "read", remote));
  if (source.attributes->type == SSH_FILEXFER_TYPE_DIRECTORY) {
    return std::unexpected(ssh_failure(
        ErrorCode::bad_request, remote + " on the host is a directory; only single files are "
                                         "copied"));
  }
  source.file.reset(sftp_open(source.sftp(), remote.c_str(), O_RDONLY, 0));
  if (!source.file) return std::unexpected(sftp_failure(source.sftp(), "read", remote));
  return source;
}

// Copies the opened remote file into `out`; the failure names `local`.
std::expected<std::uint64_t, ErrorBody> copy_into(RemoteSource& source, int out,
                                                  const std::string& local,
                                                  const std::string& remote, RequestStop& stop) {
  auto bytes = copy_remote_file(source.file.get(), out, stop);
  if (bytes) return *bytes;
  if (bytes.error().reason != StopReason::none) {
    return std::unexpected(stop.failure(bytes.error().reason, "the download"));
  }
  if (bytes.error().local_errno != 0) {
    return std::unexpected(local_failure(bytes.error().local_errno, "write", local));
  }
  return std::unexpected(sftp_failure(source.sftp(), "read", remote));
}

// The answer for a complete copy; the connection may serve the next request.
TransferResponse answer_for(RemoteSource& source, const std::string& local,
                            const std::string& remote, std::uint64_t bytes,
                            Clock::time_point started) {
  TransferResponse response;
  response.local = local;
  response.remote = canonical_remote_path(source.sftp(), remote);
  response.bytes = bytes;
  response.duration_ms = static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count());
  source.connection.lease.keep_warm();
  return response;
}

// Like the remote file's, without write access for others.
mode_t local_mode(const RemoteSource& source) {
  return (source.attributes->permissions & 0777) & ~mode_t{022};
}

}  // namespace

std::expected<TransferResponse, ErrorBody> ssh_download(
    const SshTarget& target, const SshCredentials& credentials, const TrustedHostKeys& keys,
    const std::string& remote, const std::string& local, const CancelWatch& cancel,
    const ConnectionSource& connection_source) {
  const Clock::time_point started = Clock::now();
  RequestStop stop(cancel, target.max_duration, started);
  auto path = final_local_path(local, remote);
  if (!path) return std::unexpected(path.error());
  auto source = open_remote(target, credentials, keys, remote, connection_source);
  if (!source) return std::unexpected(source.error());
  TemporaryFile temporary(*path);
  if (!temporary.valid()) return std::unexpected(local_failure(errno, "write", *path));
  auto bytes = copy_into(*source, temporary.fd(), *path, remote, stop);
  if (!bytes) return std::unexpected(bytes.error());
  if (int error = temporary.install(*path, local_mode(*source)); error != 0) {
    return std::unexpected(local_failure(error, "write", *path));
  }
  return answer_for(*source, *path, remote, *bytes, started);
}

std::expected<DescriptorDownload, ErrorBody> ssh_download_descriptor(
    const SshTarget& target, const SshCredentials& credentials, const TrustedHostKeys& keys,
    const std::string& remote, int sink, const std::string& local, const CancelWatch& cancel,
    const ConnectionSource& connection_source) {
  const Clock::time_point started = Clock::now();
  RequestStop stop(cancel, target.max_duration, started);
  auto source = open_remote(target, credentials, keys, remote, connection_source);
  if (!source) return std::unexpected(source.error());
  auto bytes = copy_into(*source, sink, local, remote, stop);
  if (!bytes) return std::unexpected(bytes.error());
  return DescriptorDownload{answer_for(*source, local, remote, *bytes, started),
                            local_mode(*source)};
}

}  // namespace pendrel::desktop
