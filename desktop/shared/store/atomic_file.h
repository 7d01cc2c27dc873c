// Writing the data directory's files so that a reader sees the old content or the new, never
// a half-written file, and creating the directory private to its user.
#pragma once

#include <expected>
#include <string>
#include <string_view>

namespace pendrel::desktop {

// A failed file operation: what was being done, on which path, and the errno.
struct FileError {
  std::string action;  // "create", "write", "rename", ...
  std::string path;
  int error_number = 0;

  // For example "cannot rename /d/hosts.json.tmp-41-Ab12Cd to /d/hosts.json: No space left on
  // device (os error 28)".
  [[nodiscard]] std::string text() const;
};

// What a write does when `path` exists already.
enum class ExistingFile {
  replace,
  keep,  // leave it alone and fail with error_number EEXIST (the vault is never replaced)
};

// Writes `content` as `path` through a temporary file in the same directory: written, given
// mode 0600, fsynced, renamed to `path`, then the directory fsynced, so that a crash leaves the
// old file or the new one, never a mixture. On failure the temporary file is removed and
// `path` is untouched. The temporary file is "{path}.tmp-{pid}-{random}", so that one left by
// a writer that died can be told from a live writer's (the service removes the vault's).
[[nodiscard]] std::expected<void, FileError> write_file_atomically(
    const std::string& path, std::string_view content,
    ExistingFile existing = ExistingFile::replace);

// Creates `dir` (and missing parents) with mode 0700 when it does not exist. An existing
// directory is left as it is; an existing non-directory is an error.
[[nodiscard]] std::expected<void, FileError> create_private_dir(const std::string& dir);

}  // namespace pendrel::desktop
