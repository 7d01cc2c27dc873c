#include "protocol/unavailable_marker.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>
#include <string>

#include "support/temp_dir.h"

namespace pendrel {
namespace {

struct ParseCase {
  const char* name;
  std::string text;
  std::optional<std::uint32_t> pid;  // nothing: no marker
  std::string reason;
};

TEST(ParseUnavailableMarker, ReadsPidLineAndTrimmedReason) {
  const ParseCase cases[] = {
      {"empty reason becomes unknown", "1234\n", 1234, "unknown"},
      {"padded pid and reason", "  1234  \n  disk full  \n\n", 1234, "disk full"},
      {"reason spans further lines", "7\nline one\nline two\n", 7, "line one\nline two"},
      {"carriage return and Unicode spaces trimmed", "\t7\r\n\u3000bad\u00a0\r\n", 7, "bad"},
      {"white-space-only reason", "7\n \t\r\n", 7, "unknown"},
      {"plus sign", "+12\nx", 12, "x"},
      {"leading zeros", "0012\nx", 12, "x"},
      {"largest value", "4294967295\nx", 4294967295u, "x"},
      {"zero parses", "0\nx", 0, "x"},
      {"no line feed", "1234", std::nullopt, ""},
      {"no line feed, padded", "1234  disk full", std::nullopt, ""},
      {"minus sign", "-5\nx", std::nullopt, ""},
      {"overflow", "4294967296\nx", std::nullopt, ""},
      {"far overflow", "99999999999999999999999\nx", std::nullopt, ""},
      {"empty first line", "\nx", std::nullopt, ""},
      {"plus alone", "+\nx", std::nullopt, ""},
      {"two plus signs", "++1\nx", std::nullopt, ""},
      {"space inside the number", "12 34\nx", std::nullopt, ""},
      {"hexadecimal", "0x10\nx", std::nullopt, ""},
      {"full-width digits", "\uff11\nx", std::nullopt, ""},
      {"not UTF-8", "12\n\xff", std::nullopt, ""},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto marker = parse_unavailable_marker(c.text);
    ASSERT_EQ(marker.has_value(), c.pid.has_value());
    if (!marker) continue;
    EXPECT_EQ(marker->pid, *c.pid);
    EXPECT_EQ(marker->reason, c.reason);
  }
}

// A PID that named a process which has now ended and been reaped.
pid_t ended_process() {
  pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  int status = 0;
  EXPECT_EQ(::waitpid(child, &status, 0), child);
  return child;
}

std::optional<std::string> read_marker_with(const std::string& content) {
  testing::TempDir data_dir;
  testing::write_file(data_dir / "run/cli.unavailable", content);
  return read_unavailable_marker(data_dir.path());
}

TEST(ReadUnavailableMarker, GivesTheReasonOnlyWhileTheWriterLives) {
  std::string self = std::to_string(::getpid());
  EXPECT_EQ(read_marker_with(self + "\n"), "unknown");
  EXPECT_EQ(read_marker_with("  " + self + "  \n  disk full  \n\n"), "disk full");
  EXPECT_EQ(read_marker_with("+" + self + "\nport in use"), "port in use");

  EXPECT_EQ(read_marker_with(self), std::nullopt);  // no line feed
  EXPECT_EQ(read_marker_with(std::to_string(ended_process()) + "\nstale"), std::nullopt);
}

TEST(ReadUnavailableMarker, PidsThatNameNoSingleProcessGiveNothing) {
  // 4294967295 is -1 as a process ID and -5 is malformed: both would signal many processes.
  // 0 and +0 would signal our own process group, which always succeeds.
  for (const char* pid : {"4294967295", "2147483648", "-5", "0", "+0", "-1"}) {
    SCOPED_TRACE(pid);
    EXPECT_EQ(read_marker_with(std::string(pid) + "\nreason"), std::nullopt);
  }
}

TEST(ReadUnavailableMarker, MissingOrBrokenFileGivesNothing) {
  testing::TempDir data_dir;
  EXPECT_EQ(read_unavailable_marker(data_dir.path()), std::nullopt);
  std::string self = std::to_string(::getpid());
  EXPECT_EQ(read_marker_with(self + "\n\xff\xfe"), std::nullopt);
}

}  // namespace
}  // namespace pendrel
