// The program's only hand-written JSON: compact output with fixed member order and the
// minimal escaping (quote, backslash, \b \t \n \f \r, other controls as \u00XX, all else raw).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace pendrel {

// Appends `text` as a JSON string, quotes included.
void append_json_string(std::string& out, std::string_view text);

// Appends the escaped form of `text` without quotes. Escaping is byte by byte, so a text
// escaped in pieces is the text escaped whole.
void append_json_string_content(std::string& out, std::string_view text);

// Builds one compact JSON value; commas between members and elements are placed for you.
class JsonWriter {
 public:
  // Receives the text built so far, which the writer then forgets.
  using Drain = std::function<void(std::string_view)>;

  JsonWriter() = default;
  // Hands the text to `drain` whenever it passes `drain_at` bytes (long strings are escaped in
  // pieces for that), so that a large value is never held whole; text(), take() and
  // take_line() then hold only the rest.
  JsonWriter(Drain drain, std::size_t drain_at);

  JsonWriter& begin_object();
  JsonWriter& end_object();
  JsonWriter& begin_array();
  JsonWriter& end_array();
  JsonWriter& key(std::string_view name);
  JsonWriter& string(std::string_view text);
  JsonWriter& integer(std::int64_t value);
  JsonWriter& unsigned_integer(std::uint64_t value);
  JsonWriter& boolean(bool value);
  JsonWriter& null();
  // A value already built by another JsonWriter, placed as it is: one value built once and
  // written twice (as a member and inside a string) is never built twice.
  JsonWriter& written_value(std::string_view compact_json);

  [[nodiscard]] const std::string& text() const { return out_; }
  [[nodiscard]] std::string take() { return std::move(out_); }
  // The value followed by a line feed, as every JSON result of the program is printed.
  [[nodiscard]] std::string take_line() {
    out_ += '\n';
    return std::move(out_);
  }

 private:
  void before_value();
  void drain_if_full();

  std::string out_;
  bool need_comma_ = false;
  Drain drain_;
  std::size_t drain_at_ = 0;
};

}  // namespace pendrel
