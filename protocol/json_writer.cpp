#include "protocol/json_writer.h"

#include <array>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pendrel {
namespace {

// The escaped form of each byte that needs one; padded so that every escape is copied whole
// with one fixed-size move.
struct Escape {
  std::array<char, 8> text{};
  std::size_t length = 0;
};

constexpr std::array<Escape, 256> make_escapes() {
  constexpr char hex_digits[] = "0123456789abcdef";
  std::array<Escape, 256> escapes{};
  for (std::size_t byte = 0; byte < 0x20; ++byte) {
    escapes[byte] = {{'\\', 'u', '0', '0', hex_digits[byte >> 4], hex_digits[byte & 0x0F]}, 6};
  }
  escapes['"'] = {{'\\', '"'}, 2};
  escapes['\\'] = {{'\\', '\\'}, 2};
  escapes['\b'] = {{'\\', 'b'}, 2};
  escapes['\t'] = {{'\\', 't'}, 2};
  escapes['\n'] = {{'\\', 'n'}, 2};
  escapes['\f'] = {{'\\', 'f'}, 2};
  escapes['\r'] = {{'\\', 'r'}, 2};
  return escapes;
}

constexpr std::array<Escape, 256> escapes = make_escapes();
constexpr std::size_t longest_escape = 6;

std::uint64_t load_word(const char* bytes) {
  std::uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  return word;
}

// Whether any of the eight bytes is a control, a quote or a backslash: the bit trick "some
// byte is below n" (n <= 128), exact as to whether such a byte exists; a borrow can mark bytes
// beside a true one, never a word without one.
bool needs_escape(std::uint64_t word) {
  constexpr std::uint64_t ones = 0x0101010101010101u;
  constexpr std::uint64_t high_bits = 0x8080808080808080u;
  auto has_zero_byte = [](std::uint64_t v) { return (v - ones) & ~v & high_bits; };
  const std::uint64_t below_space = (word - ones * 0x20) & ~word & high_bits;
  return (below_space | has_zero_byte(word ^ (ones * '"')) | has_zero_byte(word ^ (ones * '\\'))) !=
         0;
}

// Writes the escaped text at `out` and returns its end. `out` must have room for the longest
// escape per byte plus one padded escape: blocks of sixteen bytes are stored whole before it
// is known how many of them pass unchanged, which that room always covers.
char* write_escaped(char* out, std::string_view text) {
  const char* data = text.data();
  const std::size_t size = text.size();
  std::size_t at = 0;
#if defined(__SSE2__)
  // Remote output is mostly bytes that pass unchanged, so sixteen are tested at a time.
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  const __m128i last_control = _mm_set1_epi8(0x1F);
  while (at + 16 <= size) {
    __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), block);
    // max(byte, 0x1F) == 0x1F exactly for the unsigned bytes 0x00-0x1F.
    __m128i control = _mm_cmpeq_epi8(_mm_max_epu8(block, last_control), last_control);
    __m128i special = _mm_or_si128(_mm_cmpeq_epi8(block, quote), _mm_cmpeq_epi8(block, backslash));
    auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(control, special)));
    if (mask == 0) {
      out += 16;
      at += 16;
      continue;
    }
    auto clean = static_cast<std::size_t>(std::countr_zero(mask));
    out += clean;
    at += clean;
    const Escape& escape = escapes[static_cast<unsigned char>(data[at])];
    std::memcpy(out, escape.text.data(), escape.text.size());
    out += escape.length;
    ++at;
  }
#endif
  // The short rest (host names, keys) eight bytes at a time while none needs an escape.
  for (std::uint64_t word; at + 8 <= size && !needs_escape(word = load_word(data + at)); at += 8) {
    std::memcpy(out, &word, sizeof word);
    out += sizeof word;
  }
  for (; at < size; ++at) {
    const Escape& escape = escapes[static_cast<unsigned char>(data[at])];
    if (escape.length == 0) {
      *out++ = data[at];
      continue;
    }
    std::memcpy(out, escape.text.data(), escape.text.size());
    out += escape.length;
  }
  return out;
}

template <typename Number>
void append_number(std::string& out, Number value) {
  char digits[24];
  auto [end, error] = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, end);
}

}  // namespace

void append_json_string_content(std::string& out, std::string_view text) {
  // Room for the worst case (plus the padding of the last escape's move); only what is
  // written is kept, and memory beyond it is never touched.
  const std::size_t used = out.size();
  out.resize_and_overwrite(
      used + text.size() * longest_escape + sizeof(Escape::text), [&](char* buffer, std::size_t) {
        return static_cast<std::size_t>(write_escaped(buffer + used, text) - buffer);
      });
}

namespace {

// Appends `before` (if not NUL), the quoted text and `after` (if not NUL) in one resize: most
// strings of a host list are a few bytes long, and each separate append would cost as much.
void append_quoted(std::string& out, char before, std::string_view text, char after) {
  const std::size_t used = out.size();
  out.resize_and_overwrite(used + text.size() * longest_escape + sizeof(Escape::text) + 4,
                           [&](char* buffer, std::size_t) {
                             char* end = buffer + used;
                             if (before != '\0') *end++ = before;
                             *end++ = '"';
                             end = write_escaped(end, text);
                             *end++ = '"';
                             if (after != '\0') *end++ = after;
                             return static_cast<std::size_t>(end - buffer);
                           });
}

}  // namespace

void append_json_string(std::string& out, std::string_view text) {
  append_quoted(out, '\0', text, '\0');
}

JsonWriter::JsonWriter(Drain drain, std::size_t drain_at)
    : drain_(std::move(drain)), drain_at_(drain_at) {}

void JsonWriter::before_value() {
  if (need_comma_) out_ += ',';
  need_comma_ = true;
}

void JsonWriter::drain_if_full() {
  if (drain_ && out_.size() >= drain_at_) {
    drain_(out_);
    out_.clear();
  }
}

JsonWriter& JsonWriter::begin_object() {
  before_value();
  out_ += '{';
  need_comma_ = false;
  return *this;
}

JsonWriter& JsonWriter::end_object() {
  out_ += '}';
  need_comma_ = true;
  drain_if_full();
  return *this;
}

JsonWriter& JsonWriter::begin_array() {
  before_value();
  out_ += '[';
  need_comma_ = false;
  return *this;
}

JsonWriter& JsonWriter::end_array() {
  out_ += ']';
  need_comma_ = true;
  drain_if_full();
  return *this;
}

JsonWriter& JsonWriter::key(std::string_view name) {
  append_quoted(out_, need_comma_ ? ',' : '\0', name, ':');
  need_comma_ = false;
  return *this;
}

JsonWriter& JsonWriter::string(std::string_view text) {
  if (!drain_ || text.size() <= drain_at_) {
    append_quoted(out_, need_comma_ ? ',' : '\0', text, '\0');
    need_comma_ = true;
    drain_if_full();
    return *this;
  }
  before_value();
  out_ += '"';
  while (true) {
    std::string_view piece = text.substr(0, drain_at_);
    append_json_string_content(out_, piece);
    text.remove_prefix(piece.size());
    if (text.empty()) break;
    drain_if_full();
  }
  out_ += '"';
  drain_if_full();
  return *this;
}

JsonWriter& JsonWriter::integer(std::int64_t value) {
  before_value();
  append_number(out_, value);
  return *this;
}

JsonWriter& JsonWriter::unsigned_integer(std::uint64_t value) {
  before_value();
  append_number(out_, value);
  return *this;
}

JsonWriter& JsonWriter::boolean(bool value) {
  before_value();
  out_ += value ? "true" : "false";
  return *this;
}

JsonWriter& JsonWriter::null() {
  before_value();
  out_ += "null";
  return *this;
}

JsonWriter& JsonWriter::written_value(std::string_view compact_json) {
  before_value();
  out_ += compact_json;
  drain_if_full();
  return *this;
}

}  // namespace pendrel
