// BodyWriter: compact JSON written twice, once to measure and once into a buffer of that size.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pendrel::desktop {

// The vault body holds secrets, and a growing std::string leaves copies of its old buffer in
// freed memory. So the body is produced by the same code twice: a measuring pass counts the
// exact length, and the writing pass fills a buffer reserved to that length, which is never
// reallocated and can be wiped afterwards.
class BodyWriter {
 public:
  enum class Pass { measure, write };
  BodyWriter(Pass pass, std::size_t capacity);

  void begin_object();
  void end_object();
  void begin_array();
  void end_array();
  void key(std::string_view name);
  void string(std::string_view text);
  void unsigned_integer(std::uint64_t value);
  void boolean(bool value);

  [[nodiscard]] std::size_t length() const { return length_; }
  // The text of the writing pass; the caller wipes it.
  [[nodiscard]] std::string& text() { return out_; }

 private:
  void before_value();
  void raw(std::string_view text);

  Pass pass_;
  std::string out_;
  std::size_t length_ = 0;
  bool fresh_ = true;  // nothing written yet at this level, or just after a key
};

}  // namespace pendrel::desktop
