#include "support/test_data.h"

namespace pendrel::testing {

std::filesystem::path test_data_path(std::string_view relative) {
  // Set for this file alone by tests/CMakeLists.txt, so the other test sources keep their
  // flags (and their cached objects).
  return std::filesystem::path(PENDREL_TEST_DATA_DIR) / relative;
}

}  // namespace pendrel::testing
