#include "mcp/output_bound.h"

#include <gtest/gtest.h>

namespace pendrel::mcp {
namespace {

std::string repeated(std::string_view piece, std::size_t times) {
  std::string text;
  for (std::size_t i = 0; i < times; ++i)
    text += piece;
  return text;
}

std::size_t characters(std::string_view text) {
  std::size_t count = 0;
  for (char byte : text)
    count += (static_cast<unsigned char>(byte) & 0xC0) != 0x80;
  return count;
}

constexpr std::string_view note_start = "\n[pendrel-mcp] ";

TEST(OutputBound, KeepsHeadAndTailOfWhatExceedsItsShare) {
  struct Case {
    std::string out;
    std::string err;
    std::size_t bound;
    bool cut;
    std::size_t out_kept;  // characters of stdout kept, the note aside
    std::size_t err_kept;
  };
  const Case cases[] = {
      {"abc", "de", 5, false, 3, 2},                                // exactly the bound
      {repeated("o", 100), repeated("e", 100), 100, true, 50, 50},  // both over half
      {repeated("o", 100), "ee", 40, true, 38, 2},                  // small stderr kept whole
      {"o", repeated("e", 100), 40, true, 1, 39},                   // small stdout kept whole
      {repeated("汉", 30), "", 10, true, 10, 0},                    // cut between characters
  };
  for (const Case& c : cases) {
    BoundedOutput bounded = bound_output(c.out, c.err, c.bound, Language::en);
    EXPECT_EQ(bounded.cut, c.cut) << c.out;
    auto kept = [](const std::string& text) {
      auto note = text.find(note_start);
      if (note == std::string::npos) return characters(text);
      auto note_end = text.find('\n', note + 1);
      return characters(text.substr(0, note)) + characters(text.substr(note_end + 1));
    };
    EXPECT_EQ(kept(bounded.stdout_text), c.out_kept) << bounded.stdout_text;
    EXPECT_EQ(kept(bounded.stderr_text), c.err_kept) << bounded.stderr_text;
  }
}

TEST(OutputBound, SaysHowMuchWasLeftOutBetweenTheEnds) {
  const std::string text = "HEAD" + repeated("-", 992) + "TAIL";
  BoundedOutput bounded = bound_output(text, "", 8, Language::en);
  EXPECT_EQ(bounded.stdout_text,
            "HEAD\n[pendrel-mcp] 992 characters left out here; redirect large output to a "
            "remote file and fetch it with pendrel_download\nTAIL");
}

TEST(OutputBound, ComesFromTheEnvironmentWithinReason) {
  const std::pair<const char*, std::size_t> cases[] = {
      {"5000", 5000}, {"1000", 1000}, {"999", 40000}, {"12k", 40000}, {"-1", 40000}, {"", 40000}};
  for (const auto& [value, bound] : cases) {
    Environment environment;
    environment.set("PENDREL_MCP_MAX_OUTPUT", value);
    EXPECT_EQ(output_bound_from(environment), bound) << value;
  }
  EXPECT_EQ(output_bound_from(Environment()), default_output_bound);
}

}  // namespace
}  // namespace pendrel::mcp
