#include "client/diagnostics.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <string>

namespace pendrel::testing {
namespace {

using std::chrono::steady_clock;

void write_two_lines(const Diagnostics& diagnostics) {
  diagnostics.data_dir("/data/\xff/pendrel");
  diagnostics.request_interrupted("ls", "Pendrel closed the connection before answering", 12);
}

// Collects what Diagnostics writes to a pipe.
std::string lines_written(const Environment& environment,
                          const std::function<void(const Diagnostics&)>& write = write_two_lines) {
  int ends[2];
  EXPECT_EQ(::pipe2(ends, O_CLOEXEC), 0);
  {
    Diagnostics diagnostics(environment, ends[1]);
    write(diagnostics);
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

// Texts from the desktop application or the environment must not split a line or reach the
// terminal as raw control bytes.
TEST(Diagnostics, EscapesControlCharactersInInsertedTexts) {
  Environment environment;
  environment.set("PENDREL_LOG", "1");
  const struct {
    std::string inserted;
    std::string shown;
  } cases[] = {
      {"a\n[pendrel] forged", "a\\n[pendrel] forged"},
      {"\r\t\b\f", "\\r\\t\\b\\f"},
      {"\x1b[31mred", "\\u001b[31mred"},
      {std::string("nul\0del\x7f", 8), "nul\\u0000del\\u007f"},
      {"c1\xC2\x9B"
       "2J \xC2\xA0é",
       "c1\\u009b2J \xC2\xA0é"},  // U+009B escaped, U+00A0 kept
      {"\xff\n", "\xEF\xBF\xBD\\n"},
      {"back\\slash", "back\\slash"},
  };
  for (const auto& [inserted, shown] : cases) {
    EXPECT_EQ(
        lines_written(environment, [&](const Diagnostics& d) { d.connect_failed(inserted, "c"); }),
        "[pendrel] 连接 Pendrel 失败：" + shown + "（c）\n")
        << inserted;
  }
  EXPECT_EQ(
      lines_written(environment,
                    [](const Diagnostics& d) { d.request_failed("exec web", "bad\ncode", 3); }),
      "[pendrel] 请求 exec web 失败：bad\\ncode（3 ms）\n");
}

TEST(ElapsedMs, RoundsDownAndNeverNegative) {
  const auto start = steady_clock::now();
  EXPECT_EQ(elapsed_ms(start, start + std::chrono::microseconds(1999)), 1u);
  EXPECT_EQ(elapsed_ms(start, start + std::chrono::seconds(3)), 3000u);
  EXPECT_EQ(elapsed_ms(start, start - std::chrono::milliseconds(5)), 0u);
}

}  // namespace
}  // namespace pendrel::testing
