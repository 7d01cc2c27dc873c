#include "desktop/shared/service/marker_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "protocol/fd_io.h"
#include "protocol/unavailable_marker.h"
#include "protocol/unique_fd.h"

namespace pendrel::desktop {

std::expected<void, int> write_unavailable_marker(const std::string& path,
                                                  std::string_view reason) {
  std::string temporary = path + ".tmp";
  ::unlink(temporary.c_str());
  UniqueFd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (!fd) return std::unexpected(errno);
  std::string content = std::to_string(::getpid()) + "\n" + std::string(reason) + "\n";
  if (auto written = write_all(fd.get(), content); !written) {
    int error = written.error().error_number != 0 ? written.error().error_number : EIO;
    ::unlink(temporary.c_str());
    return std::unexpected(error);
  }
  fd.reset();
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    int error = errno;
    ::unlink(temporary.c_str());
    return std::unexpected(error);
  }
  return {};
}

void remove_unavailable_marker(const std::string& path) {
  auto content = read_whole_file(path);
  if (!content) return;
  auto marker = parse_unavailable_marker(*content);
  if (marker && marker->pid == static_cast<std::uint32_t>(::getpid())) ::unlink(path.c_str());
}

}  // namespace pendrel::desktop
