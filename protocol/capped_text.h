// Captured output as text for an answer: at most a byte bound, never cut inside a character,
// invalid UTF-8 shown as U+FFFD; the capture keeps only what the bound can use.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pendrel {

struct CappedText {
  std::string text;
  bool truncated = false;
};

// Collects a stream's bytes up to `max_bytes` plus the few bytes needed to tell whether the
// last character is whole; everything after is counted as dropped, not stored.
class OutputCapture {
 public:
  explicit OutputCapture(std::size_t max_bytes) : max_bytes_(max_bytes) {}

  void append(std::string_view bytes);

  // The text of what was kept: valid UTF-8 of at most max_bytes bytes, cut at a character
  // boundary; truncated when anything was cut or dropped.
  [[nodiscard]] CappedText finish() const;

 private:
  std::size_t max_bytes_;
  std::string kept_;
  bool dropped_ = false;
};

}  // namespace pendrel
