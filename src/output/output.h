// Output: where results and reports go, whether they are JSON, and in which language.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "i18n/language.h"

namespace pendrel {

// How much of a JSON result is built before it is written: few writes, and a buffer that stays
// small next to a large answer.
inline constexpr std::size_t json_piece_bytes = 256 * 1024;

// Standard output: text is passed on at each newline and at flush(); one write() per call
// that completes lines, so a table written in one call reaches the terminal whole.
// Write failures are ignored.
class LineBufferedSink {
 public:
  explicit LineBufferedSink(int fd) : fd_(fd) {}
  LineBufferedSink(const LineBufferedSink&) = delete;
  LineBufferedSink& operator=(const LineBufferedSink&) = delete;

  void write(std::string_view text);
  // What is pending, then `text`, at once: for JSON written in pieces, which no terminal shows.
  void write_through(std::string_view text);
  void flush();

 private:
  int fd_;
  std::string pending_;
};

// Standard error: every write goes out at once. Write failures are ignored.
class UnbufferedSink {
 public:
  explicit UnbufferedSink(int fd) : fd_(fd) {}
  void write(std::string_view text);

 private:
  int fd_;
};

struct Output {
  LineBufferedSink& out;
  UnbufferedSink& err;
  bool json;  // standard output is not a terminal
  Language lang;
};

}  // namespace pendrel
