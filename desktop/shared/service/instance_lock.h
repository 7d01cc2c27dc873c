// One service per data directory: an exclusive flock on run/lock, held for the service's life.
#pragma once

#include <expected>
#include <string>

#include "protocol/unique_fd.h"

namespace pendrel::desktop {

struct LockFailure {
  enum class Kind { held, error };
  Kind kind = Kind::held;
  int error_number = 0;  // error
};

// Opens (mode 0600) and locks the file without waiting, then writes our pid and a line feed
// into it, for the person's `status` and `stop`. held: another process has the lock. The lock
// goes with the descriptor; it also ends when the process does, however it ends.
[[nodiscard]] std::expected<UniqueFd, LockFailure> acquire_instance_lock(const std::string& path);

}  // namespace pendrel::desktop
