// Serialising the person's changes to the data directory's files: two `host add` run at once
// must both land, not one overwrite the other.
#pragma once

#include <expected>
#include <string>

#include "desktop/broker/admin/admin_failure.h"
#include "protocol/unique_fd.h"

namespace pendrel::desktop {

// An exclusive flock on the data directory itself, held while the object lives. The data
// directory is created (mode 0700) when missing.
class StoreLock {
 public:
  [[nodiscard]] static std::expected<StoreLock, AdminFailure> acquire(const std::string& data_dir);

 private:
  explicit StoreLock(UniqueFd directory) : directory_(std::move(directory)) {}
  UniqueFd directory_;
};

}  // namespace pendrel::desktop
