#include "protocol/fd_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "protocol/unique_fd.h"

namespace pendrel {

std::expected<void, IoError> write_all(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t written = ::write(fd, data.data(), data.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(IoError::from_errno(errno));
    }
    if (written == 0) {
      return std::unexpected(
          IoError::fixed(IoError::Kind::write_zero, "failed to write whole buffer"));
    }
    data.remove_prefix(static_cast<std::size_t>(written));
  }
  return {};
}

}  // namespace pendrel

namespace pendrel {

std::expected<std::string, int> read_to_end(int fd) {
  std::string content;
  char buffer[16384];
  while (true) {
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(errno);
    }
    if (got == 0) return content;
    content.append(buffer, static_cast<std::size_t>(got));
  }
}

std::expected<std::string, int> read_whole_file(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::unexpected(errno);
  UniqueFd file(fd);
  return read_to_end(file.get());
}

}  // namespace pendrel
