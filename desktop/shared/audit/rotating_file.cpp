// Appending and rotating one log file.
#include "desktop/shared/audit/rotating_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

#include "protocol/fd_io.h"

namespace pendrel::desktop {

RotatingFile::RotatingFile(std::string path, Rotation rotation)
    : path_(std::move(path)), rotation_(rotation) {}

std::expected<void, int> RotatingFile::open_locked() {
  UniqueFd fd(::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!fd) return std::unexpected(errno);
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0) return std::unexpected(errno);
  size_ = static_cast<std::uint64_t>(status.st_size);
  fd_ = std::move(fd);
  return {};
}

void RotatingFile::rotate_locked() {
  fd_.reset();
  // Oldest first, so that every rename lands on a name just freed.
  for (int index = rotation_.kept_files; index >= 1; --index) {
    std::string from = index == 1 ? path_ : path_ + "." + std::to_string(index - 1);
    std::string to = path_ + "." + std::to_string(index);
    std::rename(from.c_str(), to.c_str());
  }
  if (rotation_.kept_files < 1) std::remove(path_.c_str());
}

std::expected<void, int> RotatingFile::append(std::string_view text) {
  std::lock_guard lock(mutex_);
  if (!fd_) {
    if (auto opened = open_locked(); !opened) return opened;
  }
  if (size_ > 0 && size_ + text.size() > rotation_.max_bytes) {
    rotate_locked();
    if (auto opened = open_locked(); !opened) return opened;
  }
  if (auto written = write_all(fd_.get(), text); !written) {
    return std::unexpected(written.error().error_number != 0 ? written.error().error_number : EIO);
  }
  size_ += text.size();
  return {};
}

}  // namespace pendrel::desktop
