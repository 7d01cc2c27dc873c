#include "protocol/skill_install.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "protocol/fd_io.h"
#include "protocol/unique_fd.h"

namespace pendrel {
namespace {

std::string_view parent_of(std::string_view path) {
  std::size_t slash = path.find_last_of('/');
  if (slash == std::string_view::npos) return {};
  std::string_view parent = path.substr(0, slash);
  // "/x" has the root as its parent, not the empty path.
  return parent.empty() ? path.substr(0, 1) : parent;
}

bool is_directory(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// mkdir -p: ancestors first, only when the directory itself cannot be made for want of them.
// An existing non-directory in the way is an error (EEXIST), not something to write through.
std::expected<void, IoError> create_directory_with_ancestors(std::string_view directory) {
  if (directory.empty()) return {};
  std::string path(directory);
  if (::mkdir(path.c_str(), 0777) == 0) return {};
  int error = errno;
  if (error == ENOENT) {
    std::string_view parent = parent_of(directory);
    if (parent.size() < directory.size()) {
      if (auto made = create_directory_with_ancestors(parent); !made) return made;
      if (::mkdir(path.c_str(), 0777) == 0) return {};
      error = errno;
    }
  }
  // Someone else may have made it meanwhile, or it was there all along.
  if (error == EEXIST && is_directory(path)) return {};
  return std::unexpected(IoError::from_errno(error));
}

}  // namespace

std::expected<SkillFilePreviously, IoError> install_skill_file(const std::string& file_path,
                                                               std::string_view content) {
  struct stat status {};
  SkillFilePreviously previously = SkillFilePreviously::present;
  if (::stat(file_path.c_str(), &status) != 0) {
    if (errno != ENOENT) return std::unexpected(IoError::from_errno(errno));
    previously = SkillFilePreviously::absent;
  }

  if (auto made = create_directory_with_ancestors(parent_of(file_path)); !made) {
    return std::unexpected(made.error());
  }

  int fd = ::open(file_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return std::unexpected(IoError::from_errno(errno));
  UniqueFd file(fd);
  if (auto written = write_all(file.get(), content); !written) {
    return std::unexpected(written.error());
  }
  // A delayed write error (a full disk on a network file system) only shows at close; the
  // descriptor is gone either way, and EINTR does not mean the data was lost.
  if (::close(file.release()) != 0 && errno != EINTR) {
    return std::unexpected(IoError::from_errno(errno));
  }
  return previously;
}

}  // namespace pendrel
