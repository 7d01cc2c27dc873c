// Standard input as lines: the framing of the protocol on a pipe.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace pendrel::mcp {

// More than any message needs: a 1MB command escaped as JSON, with room to spare.
inline constexpr std::size_t max_line_bytes = 16 * 1024 * 1024;

struct InputLine {
  std::string text;       // without its line feed (nor a carriage return before it)
  bool too_long = false;  // more than the limit: its bytes were dropped as they came
};

class LineReader {
 public:
  explicit LineReader(int fd, std::size_t limit = max_line_bytes) : fd_(fd), limit_(limit) {}

  // The next line, blocking; a last line without a line feed counts. Nothing at the end of
  // the input or when reading fails.
  [[nodiscard]] std::optional<InputLine> next();

 private:
  int fd_;
  std::size_t limit_;
  std::string buffer_;
  std::size_t scanned_ = 0;  // no line feed before this offset of buffer_
  bool dropping_ = false;    // inside a line over the limit
  bool ended_ = false;
};

}  // namespace pendrel::mcp
