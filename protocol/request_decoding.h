// The desktop side's decoders: the Hello and the one request of a connection, validated fully.
#pragma once

#include <expected>
#include <string>
#include <string_view>

#include "protocol/messages.h"

namespace pendrel {

// Decodes one request payload. `payload` must have simdjson::SIMDJSON_PADDING readable bytes
// after its end. The payload must be one JSON object (white space around it allowed) with a
// "type" naming a known kind and, except for "quit", a "data" object holding the kind's
// record; unknown keys are ignored, repeated keys, missing required keys and ill-typed values
// fail. The error says what is wrong and where, e.g. "`data.host`: expected a string".
// A pure function: it never touches anything but the payload.
[[nodiscard]] std::expected<Request, std::string> decode_request(std::string_view payload);

// Decodes the Hello: an object with "protocol" (unsigned 32-bit, required), "client" and
// "lang" (strings, empty when absent). Same padding rule and error form as decode_request.
[[nodiscard]] std::expected<Hello, std::string> decode_hello(std::string_view payload);

}  // namespace pendrel
