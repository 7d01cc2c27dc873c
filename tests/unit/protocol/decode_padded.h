// Decodes an answer payload from a buffer that carries the padding the decoder may read.
#pragma once

#include <simdjson.h>

#include <string>
#include <string_view>

#include "protocol/messages.h"

namespace pendrel::testing {

inline std::expected<Response, std::string> decode_padded(std::string_view payload) {
  std::string buffer(payload);
  buffer.append(simdjson::SIMDJSON_PADDING, '\0');
  return decode_response(std::string_view(buffer.data(), payload.size()));
}

}  // namespace pendrel::testing
