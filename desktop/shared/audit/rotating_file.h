// An append-only log file that is rotated at a size bound: name.1 … name.N keep the older
// content, the oldest is dropped. Shared by the audit log and the service log.
#pragma once

#include <cstdint>
#include <expected>
#include <mutex>
#include <string>
#include <string_view>

#include "protocol/unique_fd.h"

namespace pendrel::desktop {

struct Rotation {
  std::uint64_t max_bytes = 10u << 20;  // a write that would pass this rotates first
  int kept_files = 3;                   // name.1 … name.kept_files
};

class RotatingFile {
 public:
  RotatingFile(std::string path, Rotation rotation);

  // Appends `text` in one write(2) (so lines of concurrent writers never interleave) to the
  // file, opened with mode 0600 on first use and again after a rotation. Fails with the errno.
  // Safe to call from any thread.
  [[nodiscard]] std::expected<void, int> append(std::string_view text);

  [[nodiscard]] const std::string& path() const { return path_; }

 private:
  std::expected<void, int> open_locked();
  void rotate_locked();

  std::string path_;
  Rotation rotation_;
  std::mutex mutex_;
  UniqueFd fd_;
  std::uint64_t size_ = 0;
};

}  // namespace pendrel::desktop
