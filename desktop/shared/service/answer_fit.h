// Keeping an answer within the channel's frame limit: exec output that escapes to more than
// the limit (control bytes grow sixfold as \u00XX) is cut further, with "truncated" set.
#pragma once

#include <cstddef>
#include <string>

#include "protocol/channel.h"
#include "protocol/messages.h"

namespace pendrel::desktop {

// The encoded answer, never longer than `limit` bytes: an exec answer over it loses output
// from the end of its longer stream (never inside a UTF-8 character) until it fits. Other
// answers are small by construction and are returned as they are encoded.
[[nodiscard]] std::string encode_answer_within(Response answer,
                                               std::size_t limit = max_answer_bytes);

}  // namespace pendrel::desktop
