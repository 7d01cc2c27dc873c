// Any payload a local client sends as its Hello or its request decodes or fails with a
// description; what decodes survives a round trip through the encoder that pendrel uses.
#include <simdjson.h>

#include <string>

#include "fuzz_check.h"
#include "protocol/messages.h"
#include "protocol/request_decoding.h"

namespace {

std::string padded(std::string_view payload) {
  std::string buffer(payload);
  buffer.append(simdjson::SIMDJSON_PADDING, '\0');
  return buffer;
}

template <typename Decode>
auto decode_padded(std::string_view payload, Decode decode) {
  std::string buffer = padded(payload);
  return decode(std::string_view(buffer.data(), payload.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace pendrel;
  auto payload = fuzz::as_text(data, size);
  if (auto request = decode_padded(payload, decode_request)) {
    std::string encoded = encode_request(*request);
    auto again = decode_padded(encoded, decode_request);
    fuzz::check(again.has_value(), "an encoded request decodes");
    fuzz::check(encode_request(*again) == encoded, "a request survives the round trip");
  } else {
    fuzz::check(!request.error().empty(), "a rejected request is described");
  }
  if (auto hello = decode_padded(payload, decode_hello)) {
    std::string encoded = encode_hello(*hello);
    auto again = decode_padded(encoded, decode_hello);
    fuzz::check(again.has_value() && encode_hello(*again) == encoded,
                "a Hello survives the round trip");
  }
  return 0;
}
