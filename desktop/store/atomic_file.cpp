#include "desktop/store/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "protocol/fd_io.h"
#include "protocol/os_error.h"
#include "protocol/unique_fd.h"

namespace pendrel::desktop {
namespace {

std::string parent_of(const std::string& path) {
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string name_of(const std::string& path) {
  auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::unexpected<FileError> fail(std::string action, std::string path, int error_number) {
  return std::unexpected(FileError{std::move(action), std::move(path), error_number});
}

}  // namespace

std::string FileError::text() const {
  return "cannot " + action + " " + path + ": " + os_error_text(error_number);
}

std::expected<void, FileError> write_file_atomically(const std::string& path,
                                                     std::string_view content) {
  std::string dir = parent_of(path);
  // A dot name keeps the temporary file out of a person's way; the random tail keeps two
  // writers apart.
  std::string temp = dir + "/." + name_of(path) + ".XXXXXX";
  int raw = ::mkostemp(temp.data(), O_CLOEXEC);
  if (raw < 0) return fail("create a temporary file in", dir, errno);
  UniqueFd file(raw);
  auto discard = [&](std::string action, int error_number) {
    ::unlink(temp.c_str());
    return fail(std::move(action), temp, error_number);
  };
  if (::fchmod(file.get(), 0600) != 0) return discard("set the mode of", errno);
  if (auto written = write_all(file.get(), content); !written) {
    const IoError& error = written.error();
    return discard("write", error.kind == IoError::Kind::os ? error.error_number : EIO);
  }
  if (::fsync(file.get()) != 0) return discard("flush", errno);
  if (::close(file.release()) != 0) return discard("close", errno);
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    int error_number = errno;
    ::unlink(temp.c_str());
    return fail("replace", path, error_number);
  }
  // The rename is durable only once the directory entry is on disk.
  UniqueFd directory(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!directory || ::fsync(directory.get()) != 0) return fail("flush the directory", dir, errno);
  return {};
}

std::expected<void, FileError> create_private_dir(const std::string& dir) {
  struct stat info {};
  if (::stat(dir.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) return {};
    return fail("use as a directory", dir, ENOTDIR);
  }
  if (errno != ENOENT) return fail("examine", dir, errno);
  std::string parent = parent_of(dir);
  if (parent != dir && parent != "." && parent != "/") {
    if (auto made = create_private_dir(parent); !made) return made;
  }
  // Another process may create it at the same moment; that is as good as creating it.
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return fail("create", dir, errno);
  return {};
}

}  // namespace pendrel::desktop
