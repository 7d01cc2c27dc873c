// Durable whole-file writes: a private temporary file beside the target, fsynced, renamed.
#pragma once

#include <expected>
#include <span>
#include <string>

namespace pendrel::desktop {

enum class ExistingFile { replace, keep };

struct AtomicWriteError {
  enum class Kind { exists, os } kind = Kind::os;
  std::string text;  // the step and the operating-system error
};

// Writes `bytes` as the file at `path` with mode 0600: into a temporary file in the same
// directory, fsynced, renamed over the path, then the directory fsynced, so that a crash
// leaves the old file or the new one, never a mixture. With ExistingFile::keep an existing
// file is left alone and the write fails with Kind::exists. The temporary file is removed on
// every failure.
[[nodiscard]] std::expected<void, AtomicWriteError> write_file_atomically(
    const std::string& path, std::span<const unsigned char> bytes, ExistingFile existing);

}  // namespace pendrel::desktop
