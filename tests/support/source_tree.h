// Files of the repository that the tests read (tests/data, the shipped skill file), wherever
// the build tree is.
#pragma once

#include <filesystem>
#include <string_view>

namespace pendrel::testing {

// `relative` under the repository's root, as an absolute path fixed when the tests were
// configured: no environment variable, working directory or form of __FILE__ is needed.
[[nodiscard]] std::filesystem::path source_path(std::string_view relative);

}  // namespace pendrel::testing
