#include "desktop/shared/store/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

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

// Moves `from` to `to` without replacing an existing `to`; 0 or the errno. renameat2 is not
// supported by every file system; a hard link gives the same guarantee where it is not.
int rename_without_replacing(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  if (::link(from.c_str(), to.c_str()) != 0) return errno;
  ::unlink(from.c_str());
  return 0;
}

std::unexpected<FileError> fail(std::string action, std::string path, int error_number) {
  return std::unexpected(FileError{std::move(action), std::move(path), error_number});
}

}  // namespace

std::string FileError::text() const {
  return "cannot " + action + " " + path + ": " + os_error_text(error_number);
}

std::expected<void, FileError> write_file_atomically(const std::string& path,
                                                     std::string_view content,
                                                     ExistingFile existing) {
  std::string dir = parent_of(path);
  // The pid tells a dead writer's leftover from a live one's; the random tail keeps two
  // writers of one process apart.
  std::string temp = path + ".tmp-" + std::to_string(::getpid()) + "-XXXXXX";
  int raw = ::mkostemp(temp.data(), O_CLOEXEC);
  if (raw < 0) return fail("create a temporary file in", dir, errno);
  UniqueFd file(raw);
  auto discard = [&](std::string action, std::string on, int error_number) {
    ::unlink(temp.c_str());
    return fail(std::move(action), std::move(on), error_number);
  };
  // The umask can only take bits away; set the mode exactly anyway.
  if (::fchmod(file.get(), 0600) != 0) return discard("set the mode of", temp, errno);
  if (auto written = write_all(file.get(), content); !written) {
    const IoError& error = written.error();
    return discard("write", temp, error.kind == IoError::Kind::os ? error.error_number : EIO);
  }
  if (::fsync(file.get()) != 0) return discard("flush", temp, errno);
  if (::close(file.release()) != 0) return discard("close", temp, errno);
  if (existing == ExistingFile::keep) {
    if (int error_number = rename_without_replacing(temp, path); error_number != 0)
      return discard("create", path, error_number);
  } else if (::rename(temp.c_str(), path.c_str()) != 0) {
    return discard("replace", path, errno);
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
