#include "desktop/broker/admin/store_lock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>

#include "desktop/shared/store/atomic_file.h"
#include "protocol/os_error.h"

namespace pendrel::desktop {

std::expected<StoreLock, AdminFailure> StoreLock::acquire(const std::string& data_dir) {
  if (auto made = create_private_dir(data_dir); !made) {
    return std::unexpected(bad_input(made.error().text()));
  }
  UniqueFd directory(::open(data_dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!directory) {
    return std::unexpected(bad_input("cannot open " + data_dir + ": " + os_error_text(errno)));
  }
  while (::flock(directory.get(), LOCK_EX) != 0) {
    if (errno != EINTR) {
      return std::unexpected(bad_input("cannot lock " + data_dir + ": " + os_error_text(errno)));
    }
  }
  return StoreLock(std::move(directory));
}

}  // namespace pendrel::desktop
