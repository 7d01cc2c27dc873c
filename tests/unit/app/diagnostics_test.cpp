#include "app/diagnostics.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

namespace pendrel::testing {
namespace {

using std::chrono::steady_clock;

// Collects what Diagnostics writes to a pipe.
std::string lines_written(const Environment& environment) {
  int ends[2];
  EXPECT_EQ(::pipe2(ends, O_CLOEXEC), 0);
  {
    Diagnostics diagnostics(environment, ends[1]);
    diagnostics.data_dir("/data/\xff/pendrel");
    diagnostics.request_interrupted("ls", "Pendrel closed the connection before answering", 12);
  }
  ::close(ends[1]);
  std::string text;
  char buffer[512];
  ssize_t got = 0;
  while ((got = ::read(ends[0], buffer, sizeof buffer)) > 0) {
    text.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(ends[0]);
  return text;
}

TEST(Diagnostics, OnForAnyNonEmptyValue) {
  for (const char* value : {"1", "0", "false"}) {
    Environment environment;
    environment.set("PENDREL_LOG", value);
    EXPECT_EQ(lines_written(environment),
              "[pendrel] 数据目录 /data/\xEF\xBF\xBD/pendrel\n"
              "[pendrel] 请求 ls 中断：Pendrel closed the connection before answering（12 ms）\n")
        << value;
  }
}

TEST(Diagnostics, OffWhenUnsetOrEmpty) {
  Environment unset;
  EXPECT_EQ(lines_written(unset), "");
  Environment empty;
  empty.set("PENDREL_LOG", "");
  EXPECT_EQ(lines_written(empty), "");
}

TEST(ElapsedMs, RoundsDownAndNeverNegative) {
  const auto start = steady_clock::now();
  EXPECT_EQ(elapsed_ms(start, start + std::chrono::microseconds(1999)), 1u);
  EXPECT_EQ(elapsed_ms(start, start + std::chrono::seconds(3)), 3000u);
  EXPECT_EQ(elapsed_ms(start, start - std::chrono::milliseconds(5)), 0u);
}

}  // namespace
}  // namespace pendrel::testing
