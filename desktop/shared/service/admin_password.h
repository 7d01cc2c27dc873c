// The admin socket's requests read so that a password in one lives only in guarded memory.
#pragma once

#include <expected>
#include <string>

#include "desktop/broker/vault/secret_bytes.h"
#include "desktop/shared/store/json_object_reader.h"
#include "protocol/frame_reader.h"

namespace pendrel::desktop {

// Parses the frame where it lies (read_frame pads it as simdjson needs), so that the parser
// makes no copy of the request; the caller wipes the frame once it has answered.
[[nodiscard]] std::expected<void, std::string> parse_admin_request(const PaddedPayload& frame,
                                                                   ParsedObject& into);

// The request's "password" string copied into guarded memory. The parser's own unescaped copy
// is wiped at once, so the password outlives neither the frame nor the parse.
[[nodiscard]] std::expected<SecretString, std::string> take_password(ParsedObject& parsed);

}  // namespace pendrel::desktop
