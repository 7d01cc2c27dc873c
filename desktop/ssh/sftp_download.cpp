// The download half of sftp_transfer.h.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <vector>

#include "desktop/ssh/request_stop.h"
#include "desktop/ssh/sftp_channel.h"
#include "desktop/ssh/sftp_transfer.h"
#include "desktop/ssh/ssh_connection.h"
#include "desktop/ssh/ssh_error.h"
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

}  // namespace

std::expected<TransferResponse, ErrorBody> ssh_download(
    const SshTarget& target, const SshCredentials& credentials, const KnownHostKeys& keys,
    const std::string& remote, const std::string& local, const CancelWatch& cancel) {
  const Clock::time_point started = Clock::now();
  RequestStop stop(cancel, target.max_duration, started);
  auto path = final_local_path(local, remote);
  if (!path) return std::unexpected(path.error());
  auto session = open_ssh_session(target, credentials, keys);
  if (!session) return std::unexpected(session.error());
  auto sftp = open_sftp(session->get());
  if (!sftp) return std::unexpected(sftp.error());

  OwnedAttributes attributes(sftp_stat(sftp->get(), remote.c_str()));
  if (!attributes) return std::unexpected(sftp_failure(sftp->get(), "read", remote));
  if (attributes->type == SSH_FILEXFER_TYPE_DIRECTORY) {
    return std::unexpected(ssh_failure(
        ErrorCode::bad_request, remote + " on the host is a directory; only single files are "
                                         "copied"));
  }
  OwnedSftpFile file(sftp_open(sftp->get(), remote.c_str(), O_RDONLY, 0));
  if (!file) return std::unexpected(sftp_failure(sftp->get(), "read", remote));
  TemporaryFile temporary(*path);
  if (!temporary.valid()) return std::unexpected(local_failure(errno, "write", *path));

  // Reads are pipelined: the server answers the next ones while this one is written out.
  // libssh advances the offset by a whole chunk per request, so a short answer before the
  // end would leave a gap; after one, any further data means the copy cannot be trusted.
  std::deque<std::uint32_t> pending;
  std::vector<char> buffer(sftp_read_chunk);
  bool more_to_ask = true;
  bool short_answer = false;
  std::uint64_t bytes = 0;
  auto ask = [&]() -> bool {
    int id = sftp_async_read_begin(file.get(), sftp_read_chunk);
    if (id < 0) return false;
    pending.push_back(static_cast<std::uint32_t>(id));
    return true;
  };
  while (more_to_ask && pending.size() < static_cast<std::size_t>(sftp_reads_in_flight)) {
    if (!ask()) return std::unexpected(sftp_failure(sftp->get(), "read", remote));
  }
  while (!pending.empty()) {
    if (auto reason = stop.check(); reason != StopReason::none) {
      return std::unexpected(stop.failure(reason, "the download"));
    }
    int got = sftp_async_read(file.get(), buffer.data(), sftp_read_chunk, pending.front());
    pending.pop_front();
    if (got < 0) return std::unexpected(sftp_failure(sftp->get(), "read", remote));
    if (got == 0) {
      more_to_ask = false;
      continue;
    }
    if (short_answer) {
      return std::unexpected(ssh_failure(
          ErrorCode::internal, "the server answered a read of " + remote +
                                   " short and then sent more; the download was not kept"));
    }
    if (static_cast<std::uint32_t>(got) < sftp_read_chunk) {
      short_answer = true;
      more_to_ask = false;
    }
    auto written =
        write_all(temporary.fd(), std::string_view(buffer.data(), static_cast<std::size_t>(got)));
    if (!written) {
      return std::unexpected(local_failure(written.error().error_number, "write", *path));
    }
    bytes += static_cast<std::uint64_t>(got);
    if (more_to_ask && !ask()) return std::unexpected(sftp_failure(sftp->get(), "read", remote));
  }
  mode_t mode = (attributes->permissions & 0777) & ~mode_t{022};
  if (int error = temporary.install(*path, mode); error != 0) {
    return std::unexpected(local_failure(error, "write", *path));
  }
  TransferResponse response;
  response.local = *path;
  response.remote = canonical_remote_path(sftp->get(), remote);
  response.bytes = bytes;
  response.duration_ms = static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count());
  return response;
}

}  // namespace pendrel::desktop
