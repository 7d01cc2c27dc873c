#include "desktop/shared/service/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "protocol/fd_io.h"

namespace pendrel::desktop {

std::expected<UniqueFd, LockFailure> acquire_instance_lock(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!fd) return std::unexpected(LockFailure{LockFailure::Kind::error, errno});
  while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK) return std::unexpected(LockFailure{});
    return std::unexpected(LockFailure{LockFailure::Kind::error, errno});
  }
  // The pid is a convenience for readers; the lock alone decides, so a failure is harmless.
  if (::ftruncate(fd.get(), 0) == 0) {
    (void)write_all(fd.get(), std::to_string(::getpid()) + "\n");
  }
  return fd;
}

}  // namespace pendrel::desktop
