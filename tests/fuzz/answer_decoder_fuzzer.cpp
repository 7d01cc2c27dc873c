// Any payload the desktop application sends decodes to an answer or to a fault that names its
// position; nothing crashes, whatever the nesting, encoding or schema violation. An accepted
// answer survives a round trip through the service's encoder, and an answer recognised as
// printable from its own bytes is one the decoder reads the same and the encoder writes back.
#include <simdjson.h>

#include <string>

#include "fuzz_check.h"
#include "protocol/messages.h"
#include "protocol/response_decoding_canonical.h"
#include "protocol/response_encoding.h"

namespace {

// The frame reader hands the decoder a buffer with the parser's padding after the payload.
std::expected<pendrel::Response, std::string> decode_padded(std::string_view payload) {
  std::string buffer(payload);
  buffer.append(simdjson::SIMDJSON_PADDING, '\0');
  return pendrel::decode_response(std::string_view(buffer.data(), payload.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace pendrel;
  auto answer = decode_padded(fuzz::as_text(data, size));
  std::string buffer(fuzz::as_text(data, size));
  buffer.append(simdjson::SIMDJSON_PADDING, '\0');
  if (auto canonical = recognise_canonical_answer(buffer.data(), size)) {
    fuzz::check(answer.has_value(), "a recognised answer decodes");
    fuzz::check(debug_render(to_response(*canonical)) == debug_render(*answer),
                "a recognised answer reads as the decoder reads it");
    fuzz::check(encode_response(*answer) == fuzz::as_text(data, size),
                "a recognised answer is what the encoder writes");
  }
  if (answer) {
    auto again = decode_padded(encode_response(*answer));
    fuzz::check(again.has_value(), "an encoded answer decodes");
    fuzz::check(debug_render(*again) == debug_render(*answer), "an answer survives the round trip");
  } else {
    fuzz::check(answer.error().find(" at line ") != std::string::npos,
                "every rejected answer names a line and a column");
  }
  return 0;
}
