// Making a path absolute without touching the file system: the working directory is
// prefixed, "." and repeated separators go, ".." and symbolic links stay as they are.
#pragma once

#include <expected>
#include <functional>
#include <string>
#include <string_view>

namespace pendrel {

// Pure normalisation of `path` against `working_dir` (used only when `path` is relative).
// Exactly two leading slashes are kept, three or more count as one; a trailing slash of the
// path as given is kept. The result holds the input's bytes, valid UTF-8 or not.
[[nodiscard]] std::string absolute_lexically(std::string_view path, std::string_view working_dir);

// The working directory as the operating system reports it, or the errno of getcwd.
[[nodiscard]] std::expected<std::string, int> current_working_directory();

// Where a relative path is resolved from: the working directory, or the errno of asking.
using WorkingDirectoryQuery = std::function<std::expected<std::string, int>()>;

// absolute_lexically with the working directory from `working_directory`, asked only for a
// relative path. Fails with its errno when the working directory cannot be determined.
[[nodiscard]] std::expected<std::string, int> make_absolute(
    std::string_view path, const WorkingDirectoryQuery& working_directory);

// The same with the process's working directory (getcwd).
[[nodiscard]] std::expected<std::string, int> make_absolute(std::string_view path);

// `directory`, a slash unless it already ends with one, and `name`.
[[nodiscard]] std::string join_path(std::string_view directory, std::string_view name);

}  // namespace pendrel
