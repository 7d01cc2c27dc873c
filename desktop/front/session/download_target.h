// A download's local end in the person's front: the target chosen by scp's rule, and a
// temporary file beside it, created with the person's permissions, that becomes the target by
// rename once the broker reports the copy complete, or is removed.
#pragma once

#include <sys/types.h>

#include <expected>
#include <string>

#include "protocol/messages.h"
#include "protocol/unique_fd.h"

namespace pendrel::desktop {

class DownloadTarget {
 public:
  DownloadTarget() = default;
  ~DownloadTarget();  // removes the temporary file unless it was installed
  DownloadTarget(const DownloadTarget&) = delete;
  DownloadTarget& operator=(const DownloadTarget&) = delete;

  // `local` (absolute), or the remote file's name inside it when it is ".", a directory or
  // ends with "/"; a target that is a directory is path_exists; a temporary file that cannot
  // be made fails as the system says (path_not_found, permission_denied, …).
  [[nodiscard]] std::expected<void, ErrorBody> make(const std::string& local,
                                                    const std::string& remote);

  // Gives the complete file `mode` and the target's name.
  [[nodiscard]] std::expected<void, ErrorBody> install(mode_t mode);

  [[nodiscard]] int fd() const { return fd_.get(); }
  [[nodiscard]] const std::string& target() const { return target_; }

 private:
  std::string target_;
  std::string temporary_;
  UniqueFd fd_;
};

}  // namespace pendrel::desktop
