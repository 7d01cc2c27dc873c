// Where the tests' data files lie in the repository (tests/data), wherever the build tree is.
#pragma once

#include <filesystem>
#include <string_view>

namespace pendrel::testing {

// `relative` under the repository's tests/data folder, as an absolute path fixed when the
// tests were configured: no environment variable and no working directory is needed.
[[nodiscard]] std::filesystem::path test_data_path(std::string_view relative);

}  // namespace pendrel::testing
