// Standard output shared by every running call: one whole line per write, never interleaved.
#pragma once

#include <mutex>
#include <string_view>

namespace pendrel::mcp {

class LineWriter {
 public:
  explicit LineWriter(int fd) : fd_(fd) {}

  // Writes `line` whole before any other line starts. A failure (the client gone) is ignored:
  // the end of standard input ends the server.
  void write(std::string_view line);

 private:
  std::mutex mutex_;
  int fd_;
};

}  // namespace pendrel::mcp
