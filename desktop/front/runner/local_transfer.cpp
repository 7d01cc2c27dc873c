#include "desktop/front/runner/local_transfer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>

#include "protocol/fd_io.h"
#include "protocol/lexical_path.h"
#include "protocol/os_error.h"
#include "protocol/unique_fd.h"

namespace pendrel::desktop {
namespace {

std::string file_name_of(const std::string& path) {
  auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string directory_of(const std::string& path) {
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The answer for a failed file operation on `path`.
ErrorBody file_error(std::string_view doing, const std::string& path, int error_number) {
  std::string code = "internal";
  if (error_number == ENOENT || error_number == ENOTDIR) code = "path_not_found";
  if (error_number == EACCES || error_number == EPERM || error_number == EROFS) {
    code = "permission_denied";
  }
  return ErrorBody{code, std::string(doing) + " " + path + ": " + os_error_text(error_number)};
}

std::unexpected<ErrorBody> fail(std::string_view doing, const std::string& path, int error_number) {
  return std::unexpected(file_error(doing, path, error_number));
}

// A temporary file beside the target that is removed unless it was renamed into place.
struct TemporaryFile {
  std::string path;
  UniqueFd fd;
  bool kept = false;
  ~TemporaryFile() {
    if (!kept && !path.empty()) ::unlink(path.c_str());
  }
};

// Copies every byte; the count, or the answer naming the side that failed.
std::expected<std::uint64_t, ErrorBody> copy_bytes(int from, const std::string& source, int to,
                                                   const std::string& target) {
  std::uint64_t total = 0;
  char buffer[65536];
  while (true) {
    ssize_t got = ::read(from, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      return fail("cannot read", source, errno);
    }
    if (got == 0) return total;
    if (auto written = write_all(to, std::string_view(buffer, static_cast<std::size_t>(got)));
        !written) {
      const IoError& error = written.error();
      return fail("cannot write", target,
                  error.kind == IoError::Kind::os ? error.error_number : EIO);
    }
    total += static_cast<std::uint64_t>(got);
  }
}

// Where the copy really goes: a target that is a symbolic link to a file is written through,
// as a copy onto it would be, by renaming beside the file it names.
std::string written_path(const std::string& target) {
  struct stat link_info {};
  if (::lstat(target.c_str(), &link_info) != 0 || !S_ISLNK(link_info.st_mode)) return target;
  char* resolved = ::realpath(target.c_str(), nullptr);
  if (resolved == nullptr) return target;
  std::string real(resolved);
  std::free(resolved);
  return real;
}

}  // namespace

std::string scp_target_path(const std::string& source, const std::string& target) {
  struct stat info {};
  bool into_directory =
      target.ends_with('/') || (::stat(target.c_str(), &info) == 0 && S_ISDIR(info.st_mode));
  if (!into_directory) return target;
  return join_path(target, file_name_of(source));
}

std::expected<TransferResponse, ErrorBody> copy_local_file(Direction direction,
                                                           const std::string& source,
                                                           const std::string& target) {
  auto start = std::chrono::steady_clock::now();
  if (source.empty() || target.empty()) {
    return std::unexpected(ErrorBody{"bad_request", "both paths must be given"});
  }
  UniqueFd input(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  if (!input) return fail("cannot open", source, errno);
  struct stat source_info {};
  if (::fstat(input.get(), &source_info) != 0) return fail("cannot examine", source, errno);
  if (S_ISDIR(source_info.st_mode)) {
    return std::unexpected(
        ErrorBody{"bad_request", source + " is a directory; only files are copied"});
  }
  if (!S_ISREG(source_info.st_mode)) {
    return std::unexpected(ErrorBody{"bad_request", source + " is not a regular file"});
  }

  std::string destination = scp_target_path(source, target);
  struct stat target_info {};
  bool target_exists = ::stat(destination.c_str(), &target_info) == 0;
  if (target_exists && S_ISDIR(target_info.st_mode)) {
    return std::unexpected(ErrorBody{"path_exists", destination + " is a directory"});
  }
  std::string real_destination = written_path(destination);

  TemporaryFile temp;
  temp.path = directory_of(real_destination) + "/." + file_name_of(real_destination) + ".XXXXXX";
  temp.fd.reset(::mkostemp(temp.path.data(), O_CLOEXEC));
  if (!temp.fd) {
    int error_number = errno;
    temp.path.clear();
    return fail("cannot create a file in", directory_of(real_destination), error_number);
  }
  auto bytes = copy_bytes(input.get(), source, temp.fd.get(), destination);
  if (!bytes) return std::unexpected(bytes.error());
  // An overwritten file keeps its permissions; a new one gets the source's.
  mode_t mode = (target_exists ? target_info.st_mode : source_info.st_mode) & 0777;
  if (::fchmod(temp.fd.get(), mode) != 0) return fail("cannot set the mode of", destination, errno);
  if (::fsync(temp.fd.get()) != 0) return fail("cannot write", destination, errno);
  if (::close(temp.fd.release()) != 0) return fail("cannot write", destination, errno);
  if (::rename(temp.path.c_str(), real_destination.c_str()) != 0) {
    return fail("cannot replace", destination, errno);
  }
  temp.kept = true;

  auto elapsed = std::chrono::steady_clock::now() - start;
  TransferResponse answer;
  answer.local = direction == Direction::upload ? source : destination;
  answer.remote = direction == Direction::upload ? destination : source;
  answer.bytes = *bytes;
  answer.duration_ms = static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
  return answer;
}

}  // namespace pendrel::desktop
