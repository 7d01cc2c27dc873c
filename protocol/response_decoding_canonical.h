// Recognising a host list or exec answer written exactly as the service writes it, so that it
// can be printed from the bytes it arrived in instead of being decoded and encoded again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "protocol/messages.h"

namespace pendrel {

// A string's content between its quotes, inside the frame: valid UTF-8 whose only escapes are
// the ones this program's JSON writer produces, so that escaping the decoded text gives back
// exactly these bytes.
struct CanonicalString {
  char* data = nullptr;
  std::size_t size = 0;
  bool escaped = false;  // holds at least one escape

  [[nodiscard]] std::string_view json() const { return {data, size}; }
  // The decoded text, as a new string.
  [[nodiscard]] std::string text() const;
  // The decoded text, written over the string's own bytes (which it never outgrows); the
  // string's JSON form is gone afterwards.
  [[nodiscard]] std::string_view text_in_place();
};

struct CanonicalHost {
  CanonicalString id;
  CanonicalString name;
  CanonicalString host;
  std::uint16_t port = 0;
  CanonicalString username;
  CanonicalString protocol;
};

// `json` is the whole "data" value: the very text the command prints as its JSON result. The
// hosts themselves are read only when asked for (canonical_hosts), as JSON output needs none.
struct CanonicalHosts {
  std::string_view json;
  char* data = nullptr;  // json's first byte, writable
};
struct CanonicalExec {
  std::string_view json;
  std::int32_t exit_code = 0;
  CanonicalString stdout_text;
  CanonicalString stderr_text;
  bool truncated = false;
  std::uint64_t duration_ms = 0;
};

using CanonicalAnswer = std::variant<CanonicalHosts, CanonicalExec>;

// The answer in `payload` (`size` bytes), when it is a hosts or exec answer in the service's
// compact form: members in their fixed order and none other, no white space, integers in
// range and written without sign or zero that is not needed, strings valid UTF-8 with only
// minimal escapes. Anything else, well-formed or not, is left to decode_response, which this
// never contradicts: what is recognised here decodes there to the same records, and writing
// those records gives back `json`. The views point into `payload`, which must be followed by
// simdjson::SIMDJSON_PADDING readable bytes, as a received frame is.
[[nodiscard]] std::optional<CanonicalAnswer> recognise_canonical_answer(char* payload,
                                                                        std::size_t size);

// The hosts of a recognised list, read again from its text, which cannot fail now; their
// strings point into the frame.
[[nodiscard]] std::vector<CanonicalHost> canonical_hosts(const CanonicalHosts& hosts);

// The records, decoded (for an answer that turned out not to be the one expected).
[[nodiscard]] Response to_response(const CanonicalAnswer& answer);

}  // namespace pendrel
