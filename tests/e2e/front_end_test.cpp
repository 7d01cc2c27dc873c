#include <gtest/gtest.h>

#include "support/run_pendrel.h"
#include "support/temp_dir.h"

namespace pendrel::testing {
namespace {

TEST(Version, PrintsInBothModes) {
  TempDir home;
  for (auto mode : {StdoutMode::pipe, StdoutMode::terminal}) {
    auto result = run_pendrel({.args = {"-V"}, .env = base_environment(home.path()),
                               .stdout_mode = mode});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.out, "0.1.3\n");
    EXPECT_EQ(result.err, "");
  }
}

}  // namespace
}  // namespace pendrel::testing
