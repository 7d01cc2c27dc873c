// The desktop side's encoder: every answer as the compact JSON that decode_response reads.
#pragma once

#include <string>

#include "protocol/messages.h"

namespace pendrel {

// `{"type":…,"data":…}` with the records' keys in their fixed order; `ok` has no "data".
// Never fails; the caller keeps the result within max_answer_bytes.
[[nodiscard]] std::string encode_response(const Response& response);

}  // namespace pendrel
