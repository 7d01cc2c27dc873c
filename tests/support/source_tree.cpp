#include "support/source_tree.h"

namespace pendrel::testing {

std::filesystem::path source_path(std::string_view relative) {
  // Set for this file alone by tests/CMakeLists.txt, so the other test sources keep their
  // flags (and their cached objects).
  return std::filesystem::path(PENDREL_SOURCE_ROOT) / relative;
}

}  // namespace pendrel::testing
