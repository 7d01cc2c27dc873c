// The service writes every answer in one compact form, so a host list or exec answer is read
// by matching that form byte for byte; whatever departs from it goes to the full decoder.
#include "protocol/response_decoding_canonical.h"

#include <simdjson.h>

#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pendrel {
namespace {

// The byte each short escape stands for, by the letter after the backslash; 0 for a letter
// that is no short escape. `\/` is valid JSON but not minimal: the writer leaves '/' alone.
constexpr std::array<char, 256> make_short_escapes() {
  std::array<char, 256> bytes{};
  bytes['"'] = '"';
  bytes['\\'] = '\\';
  bytes['b'] = '\b';
  bytes['t'] = '\t';
  bytes['n'] = '\n';
  bytes['f'] = '\f';
  bytes['r'] = '\r';
  return bytes;
}
constexpr std::array<char, 256> short_escapes = make_short_escapes();

// The length of an escape by the letter after its backslash: 2 for a short escape, 6 for
// \u (whose digits are checked apart), 0 for none the writer produces.
constexpr std::array<std::uint8_t, 256> make_escape_lengths() {
  std::array<std::uint8_t, 256> lengths{};
  for (std::size_t letter = 0; letter < 256; ++letter) {
    if (short_escapes[letter] != '\0') lengths[letter] = 2;
  }
  lengths['u'] = 6;
  return lengths;
}
constexpr std::array<std::uint8_t, 256> escape_lengths = make_escape_lengths();

// The value of a lower-case hex digit, or -1: the writer never writes upper case.
int lower_hex_value(char digit) {
  if (digit >= '0' && digit <= '9') return digit - '0';
  if (digit >= 'a' && digit <= 'f') return digit - 'a' + 10;
  return -1;
}

// Whether the last digit of \u00XX is the writer's, by the digit before it: lower-case hex,
// and after '0' none of 8, 9, a, c, d, whose controls have short escapes.
constexpr std::array<std::array<bool, 256>, 2> make_last_digits() {
  std::array<std::array<bool, 256>, 2> valid{};
  for (char digit : std::string_view("0123456789abcdef")) {
    valid[1][static_cast<unsigned char>(digit)] = true;
    valid[0][static_cast<unsigned char>(digit)] =
        std::string_view("89acd").find(digit) == std::string_view::npos;
  }
  return valid;
}
constexpr std::array<std::array<bool, 256>, 2> last_digits = make_last_digits();

// Whether the \u escape at `at` is one the writer produces: \u00XX in lower case, for a
// control character that has no short escape.
bool is_minimal_unicode_escape(const char* at, const char* end) {
  if (end - at < 6 || at[2] != '0' || at[3] != '0') return false;
  if (at[4] != '0' && at[4] != '1') return false;
  return last_digits[at[4] == '1'][static_cast<unsigned char>(at[5])];
}

// The length of the escape at `at` (a backslash) when it is one the writer produces, else 0.
// The byte after the backslash is readable even at the payload's end: the padding follows.
std::size_t minimal_escape_length(const char* at, const char* end) {
  const std::size_t length = escape_lengths[static_cast<unsigned char>(at[1])];
  if (length == 2) return at + 1 < end ? 2 : 0;
  return length == 6 && is_minimal_unicode_escape(at, end) ? 6 : 0;
}

// The byte an escape accepted by minimal_escape_length stands for, and the escape's length.
std::pair<char, std::size_t> decode_escape(const char* at) {
  if (at[1] != 'u') return {short_escapes[static_cast<unsigned char>(at[1])], 2};
  return {static_cast<char>((at[4] - '0') * 16 + lower_hex_value(at[5])), 6};
}

// Bytes classified at once: short strings (host names) pay for one block, long ones little
// per byte.
constexpr std::size_t block_bytes = 32;

// Bit i is set where byte i of the block at `at` is a quote, a backslash or a control character.
// The bytes past the payload's end are its padding, readable and to be masked off.
std::uint64_t special_bits(const char* at) {
  std::uint64_t bits = 0;
#if defined(__SSE2__)
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  const __m128i last_control = _mm_set1_epi8(0x1F);
  for (std::size_t part = 0; part < block_bytes / 16; ++part) {
    __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 16 * part));
    // max(byte, 0x1F) == 0x1F exactly for the unsigned bytes 0x00-0x1F.
    __m128i control = _mm_cmpeq_epi8(_mm_max_epu8(block, last_control), last_control);
    __m128i special = _mm_or_si128(_mm_cmpeq_epi8(block, quote), _mm_cmpeq_epi8(block, backslash));
    auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(control, special)));
    bits |= static_cast<std::uint64_t>(mask) << (16 * part);
  }
#else
  for (std::size_t i = 0; i < block_bytes; ++i) {
    auto byte = static_cast<unsigned char>(at[i]);
    if (byte < 0x20 || byte == '"' || byte == '\\') bits |= std::uint64_t{1} << i;
  }
#endif
  return bits;
}

// Which bytes of a stream are escaped (follow a backslash that is not itself escaped), 64 at a
// time with the carry between blocks, without a step per backslash: a run of backslashes
// escapes every second byte from its start, which the borrow of one subtraction finds.
class EscapeScanner {
 public:
  std::uint64_t escaped_bits(std::uint64_t backslashes) {
    constexpr std::uint64_t odd_bits = 0xAAAAAAAAAAAAAAAAu;
    if (backslashes == 0) return std::exchange(next_is_escaped_, 0);
    const std::uint64_t starts = backslashes & ~next_is_escaped_;
    const std::uint64_t codes = (((starts << 1) | odd_bits) - starts) ^ odd_bits;
    const std::uint64_t escaped = codes ^ (backslashes | next_is_escaped_);
    next_is_escaped_ = (codes & backslashes) >> 63;
    return escaped;
  }

 private:
  std::uint64_t next_is_escaped_ = 0;
};

struct ByteClasses {
  std::uint64_t backslashes = 0;
  std::uint64_t quotes = 0;
  std::uint64_t controls = 0;
};

ByteClasses classify_64(const char* at) {
  ByteClasses classes;
#if defined(__SSE2__)
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  const __m128i last_control = _mm_set1_epi8(0x1F);
  for (unsigned part = 0; part < 4; ++part) {
    __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 16 * part));
    auto bits = [&](__m128i matches) {
      return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(matches)))
             << (16 * part);
    };
    classes.backslashes |= bits(_mm_cmpeq_epi8(block, backslash));
    classes.quotes |= bits(_mm_cmpeq_epi8(block, quote));
    classes.controls |= bits(_mm_cmpeq_epi8(_mm_max_epu8(block, last_control), last_control));
  }
#else
  for (unsigned i = 0; i < 64; ++i) {
    auto byte = static_cast<unsigned char>(at[i]);
    classes.backslashes |= std::uint64_t{byte == '\\'} << i;
    classes.quotes |= std::uint64_t{byte == '"'} << i;
    classes.controls |= std::uint64_t{byte < 0x20} << i;
  }
#endif
  return classes;
}

// The closing quote of a long string's content from `from` on (where no escape is under way),
// or nullptr when the content is not canonical or runs past `end`. Only the escaped letters
// are looked at one by one.
char* find_long_string_end(char* from, char* end, bool& escaped) {
  EscapeScanner scanner;
  for (char* block = from; block < end; block += 64) {
    ByteClasses classes = classify_64(block);
    std::uint64_t in_payload = ~std::uint64_t{0};
    if (const auto available = static_cast<std::size_t>(end - block); available < 64) {
      in_payload = (std::uint64_t{1} << available) - 1;
    }
    const std::uint64_t letters = scanner.escaped_bits(classes.backslashes & in_payload);
    const std::uint64_t closing = classes.quotes & ~letters & in_payload;
    // The content's bytes in this block: up to the closing quote, or all of them.
    const std::uint64_t content = closing != 0 ? (closing & -closing) - 1 : in_payload;
    if ((classes.controls & content) != 0) return nullptr;
    if ((classes.backslashes & content) != 0) escaped = true;
    for (std::uint64_t each = letters & content; each != 0; each &= each - 1) {
      char* letter = block + std::countr_zero(each);
      const std::size_t length = escape_lengths[static_cast<unsigned char>(*letter)];
      if (length == 0 || (length == 6 && !is_minimal_unicode_escape(letter - 1, end))) {
        return nullptr;
      }
    }
    if (closing != 0) return block + std::countr_zero(closing);
  }
  return nullptr;
}

// Matches the canonical form from the front of the payload; every step fails on the first
// byte that departs from it.
class Reader {
 public:
  Reader(char* at, char* end) : at_(at), end_(end) {}

  [[nodiscard]] char* at() const { return at_; }
  [[nodiscard]] bool at_end() const { return at_ == end_; }

  // The text's length is known where it is written, so the comparison is a few loads.
  template <std::size_t N>
  bool literal(const char (&text)[N]) {
    constexpr std::size_t size = N - 1;
    if (static_cast<std::size_t>(end_ - at_) < size || std::memcmp(at_, text, size) != 0) {
      return false;
    }
    at_ += size;
    return true;
  }

  // A quoted string whose escapes are all minimal and which holds no raw control character.
  // (UTF-8 is checked once for the whole payload.) A block of bytes is classified at once and
  // every escape among them is checked from the same bits: remote output can hold one escape
  // in every few bytes.
  bool string(CanonicalString& into) {
    if (!literal("\"")) return false;
    char* start = at_;
    bool escaped = false;
    for (char* block = at_; block < end_;) {
      std::uint64_t bits = special_bits(block);
      if (const auto available = static_cast<std::size_t>(end_ - block); available < block_bytes) {
        bits &= (std::uint64_t{1} << available) - 1;
      }
      char* next_block = block + block_bytes;
      while (bits != 0) {
        const auto i = static_cast<std::size_t>(std::countr_zero(bits));
        char* special = block + i;
        if (*special != '\\') {
          if (*special != '"') return false;  // a raw control character
          into = CanonicalString{start, static_cast<std::size_t>(special - start), escaped};
          at_ = special + 1;
          return true;
        }
        const std::size_t length = minimal_escape_length(special, end_);
        if (length == 0) return false;
        escaped = true;
        // The escaped byte may itself be a quote or backslash: its bit is passed over.
        if (i + length >= block_bytes) {
          next_block = special + length;
          break;
        }
        bits &= ~std::uint64_t{0} << (i + length);
      }
      // Past the first block the string is long (remote output): on by whole blocks.
      if (next_block < end_) {
        char* closing = find_long_string_end(next_block, end_, escaped);
        if (closing == nullptr) return false;
        into = CanonicalString{start, static_cast<std::size_t>(closing - start), escaped};
        at_ = closing + 1;
        return true;
      }
      block = next_block;
    }
    return false;
  }

  // Digits without a needless leading zero, at most `max`; what follows is for the next
  // literal to check (a fraction or exponent fails there).
  bool digits(std::uint64_t max, std::uint64_t& value) {
    if (at_ == end_ || *at_ < '0' || *at_ > '9') return false;
    value = 0;
    if (*at_ == '0') {
      ++at_;
      return true;
    }
    for (; at_ != end_ && *at_ >= '0' && *at_ <= '9'; ++at_) {
      const auto digit = static_cast<std::uint64_t>(*at_ - '0');
      if (value > (max - digit) / 10) return false;
      value = value * 10 + digit;
    }
    return true;
  }

  template <typename T>
  bool unsigned_integer(T& into) {
    std::uint64_t value = 0;
    if (!digits(std::numeric_limits<T>::max(), value)) return false;
    into = static_cast<T>(value);
    return true;
  }

  // "-0" is left to the full decoder, which reads it as a floating-point number.
  bool int32(std::int32_t& into) {
    if (!literal("-")) return unsigned_integer(into);
    std::uint64_t magnitude = 0;
    constexpr auto most_negative = std::uint64_t{1} << 31;
    if (!digits(most_negative, magnitude) || magnitude == 0) return false;
    into = static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude));
    return true;
  }

  bool boolean(bool& into) {
    if (literal("true")) {
      into = true;
      return true;
    }
    into = false;
    return literal("false");
  }

 private:
  char* at_;
  char* end_;
};

bool read_host(Reader& reader, CanonicalHost& host) {
  return reader.literal(R"({"id":)") && reader.string(host.id) && reader.literal(R"(,"name":)") &&
         reader.string(host.name) && reader.literal(R"(,"host":)") && reader.string(host.host) &&
         reader.literal(R"(,"port":)") && reader.unsigned_integer(host.port) &&
         reader.literal(R"(,"username":)") && reader.string(host.username) &&
         reader.literal(R"(,"protocol":)") && reader.string(host.protocol) && reader.literal("}");
}

// Reads a host list, keeping its hosts in `into` when given.
std::optional<CanonicalHosts> read_hosts(Reader& reader, std::vector<CanonicalHost>* into) {
  CanonicalHosts answer;
  char* start = reader.at();
  if (!reader.literal("[")) return std::nullopt;
  if (!reader.literal("]")) {
    CanonicalHost host;
    do {
      if (!read_host(reader, host)) return std::nullopt;
      if (into != nullptr) into->push_back(host);
    } while (reader.literal(","));
    if (!reader.literal("]")) return std::nullopt;
  }
  answer.json = std::string_view(start, reader.at());
  answer.data = start;
  return answer;
}

std::optional<CanonicalExec> read_exec(Reader& reader) {
  CanonicalExec answer;
  char* start = reader.at();
  const bool matched = reader.literal(R"({"exitCode":)") && reader.int32(answer.exit_code) &&
                       reader.literal(R"(,"stdout":)") && reader.string(answer.stdout_text) &&
                       reader.literal(R"(,"stderr":)") && reader.string(answer.stderr_text) &&
                       reader.literal(R"(,"truncated":)") && reader.boolean(answer.truncated) &&
                       reader.literal(R"(,"durationMs":)") &&
                       reader.unsigned_integer(answer.duration_ms) && reader.literal("}");
  if (!matched) return std::nullopt;
  answer.json = std::string_view(start, reader.at());
  return answer;
}

}  // namespace

std::string CanonicalString::text() const {
  std::string copy(json());
  CanonicalString in_copy{copy.data(), copy.size(), escaped};
  copy.resize(in_copy.text_in_place().size());
  return copy;
}

std::string_view CanonicalString::text_in_place() {
  if (!escaped) return json();
  char* out = data;
  const char* in = data;
  const char* end = data + size;
  while (true) {
#if defined(__SSE2__)
    // Sixteen bytes are moved down at once. `out` trails `in` by what the escapes saved so
    // far: once that is sixteen bytes or more, a whole store never reaches a byte not read
    // yet, and only the clean part of it is kept; before, only a block without an escape is
    // stored whole.
    const __m128i backslash = _mm_set1_epi8('\\');
    unsigned mask = 0;
    for (; end - in >= 16; in += 16, out += 16) {
      __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
      mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, backslash)));
      const bool store_is_safe = in - out >= 16;
      if (mask == 0 || store_is_safe) _mm_storeu_si128(reinterpret_cast<__m128i*>(out), block);
      if (mask == 0) continue;
      if (!store_is_safe) std::memmove(out, in, static_cast<std::size_t>(std::countr_zero(mask)));
      break;
    }
    if (mask != 0) {
      const auto clean = static_cast<std::size_t>(std::countr_zero(mask));
      in += clean;
      out += clean;
    } else
#endif
    {
      for (; in < end && *in != '\\'; ++in)
        *out++ = *in;
      if (in == end) break;
    }
    auto [byte, length] = decode_escape(in);
    *out++ = byte;
    in += length;
  }
  size = static_cast<std::size_t>(out - data);
  escaped = false;
  return json();
}

std::optional<CanonicalAnswer> recognise_canonical_answer(char* payload, std::size_t size) {
  if (!simdjson::validate_utf8(payload, size)) return std::nullopt;
  Reader reader(payload, payload + size);
  if (!reader.literal(R"({"type":")")) return std::nullopt;
  std::optional<CanonicalAnswer> answer;
  if (reader.literal(R"(hosts","data":)")) {
    if (auto hosts = read_hosts(reader, nullptr)) answer = *hosts;
  } else if (reader.literal(R"(exec","data":)")) {
    if (auto exec = read_exec(reader)) answer = std::move(*exec);
  }
  if (!answer || !reader.literal("}") || !reader.at_end()) return std::nullopt;
  return answer;
}

std::vector<CanonicalHost> canonical_hosts(const CanonicalHosts& hosts) {
  std::vector<CanonicalHost> read;
  Reader reader(hosts.data, hosts.data + hosts.json.size());
  (void)read_hosts(reader, &read);
  return read;
}

Response to_response(const CanonicalAnswer& answer) {
  if (const auto* exec = std::get_if<CanonicalExec>(&answer)) {
    return ExecResponse{exec->exit_code, exec->stdout_text.text(), exec->stderr_text.text(),
                        exec->truncated, exec->duration_ms};
  }
  HostsAnswer decoded;
  for (const CanonicalHost& host : canonical_hosts(std::get<CanonicalHosts>(answer))) {
    decoded.hosts.push_back({host.id.text(), host.name.text(), host.host.text(), host.port,
                             host.username.text(), host.protocol.text()});
  }
  return decoded;
}

}  // namespace pendrel
