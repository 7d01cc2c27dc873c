#include "desktop/broker/vault/body_writer.h"

#include <charconv>

#include "protocol/json_writer.h"

namespace pendrel::desktop {
namespace {

// The length of `text` once append_json_string has escaped and quoted it.
std::size_t escaped_length(std::string_view text) {
  std::size_t length = 2;
  for (char raw_char : text) {
    const auto c = static_cast<unsigned char>(raw_char);
    if (c == '"' || c == '\\' || c == '\b' || c == '\t' || c == '\n' || c == '\f' || c == '\r') {
      length += 2;
    } else if (c < 0x20) {
      length += 6;
    } else {
      length += 1;
    }
  }
  return length;
}

}  // namespace

BodyWriter::BodyWriter(Pass pass, std::size_t capacity) : pass_(pass) {
  if (pass_ == Pass::write) out_.reserve(capacity);
}

void BodyWriter::raw(std::string_view text) {
  length_ += text.size();
  if (pass_ == Pass::write) out_.append(text);
}

void BodyWriter::before_value() {
  if (!fresh_) raw(",");
  fresh_ = false;
}

void BodyWriter::begin_object() {
  before_value();
  raw("{");
  fresh_ = true;
}

void BodyWriter::end_object() {
  raw("}");
  fresh_ = false;
}

void BodyWriter::begin_array() {
  before_value();
  raw("[");
  fresh_ = true;
}

void BodyWriter::end_array() {
  raw("]");
  fresh_ = false;
}

void BodyWriter::key(std::string_view name) {
  string(name);
  raw(":");
  fresh_ = true;
}

void BodyWriter::string(std::string_view text) {
  before_value();
  if (pass_ == Pass::measure) {
    length_ += escaped_length(text);
  } else {
    const std::size_t before = out_.size();
    append_json_string(out_, text);
    length_ += out_.size() - before;
  }
}

void BodyWriter::unsigned_integer(std::uint64_t value) {
  char digits[24];
  auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  before_value();
  raw(std::string_view(digits, static_cast<std::size_t>(end - digits)));
}

void BodyWriter::boolean(bool value) {
  before_value();
  raw(value ? "true" : "false");
}

}  // namespace pendrel::desktop
