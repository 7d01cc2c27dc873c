// Output: where results and reports go, whether they are JSON, and in which language.
#pragma once

#include <string>
#include <string_view>

#include "i18n/language.h"

namespace pendrel {

// Standard output: text is passed on at each newline and at flush(); one write() per call
// that completes lines, so a table written in one call reaches the terminal whole.
// Write failures are ignored.
class LineBufferedSink {
 public:
  explicit LineBufferedSink(int fd) : fd_(fd) {}
  LineBufferedSink(const LineBufferedSink&) = delete;
  LineBufferedSink& operator=(const LineBufferedSink&) = delete;

  void write(std::string_view text);
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
