// Decoding an answer from the frame buffer it was received into, which it releases early.
#pragma once

#include <cstddef>
#include <expected>
#include <memory>
#include <string>

#include "protocol/messages.h"

namespace pendrel {

// As decode_response for the `length` bytes at the start of `frame` (which must be followed by
// simdjson::SIMDJSON_PADDING readable bytes), the same answers and the same descriptions. The
// frame is freed as soon as nothing needs it: for a large answer before the strings are copied
// out, so that it is not held three times over.
[[nodiscard]] std::expected<Response, std::string> decode_response(std::unique_ptr<char[]> frame,
                                                                   std::size_t length);

}  // namespace pendrel
