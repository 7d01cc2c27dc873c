// The road to the desktop application, without printing: find its data directory, connect
// (starting it without a window when it is not running and the launch settings allow), run the
// handshake, send one request and receive the answer. Every failure comes back as a CliFailure
// for the front end to show in its own way.
#pragma once

#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "client/diagnostics.h"
#include "i18n/language.h"
#include "output/failure.h"
#include "protocol/channel.h"
#include "protocol/environment.h"
#include "protocol/frame_reader.h"
#include "protocol/messages.h"
#include "protocol/response_decoding_canonical.h"

namespace pendrel {

// Who is asking, as the handshake names it ("pendrel 0.1.3"), and in which language.
struct ClientIdentity {
  std::string_view name;
  Language language = Language::zh;
};

// An answer as it arrived, never an error answer: recognised in the service's own form, to be
// printed from the frame it points into, or else decoded.
struct ReceivedAnswer {
  PaddedPayload frame;  // what `canonical` points into; released once decoded
  std::optional<CanonicalAnswer> canonical;
  Response decoded;
};

// Everything up to a handshaken connection: the data directory, the first attempt and, when
// the application is not running, the marker, the launch settings, the start and the wait.
// The diagnostic lines of each step go through `diagnostics`, a failure included.
[[nodiscard]] std::expected<Connection, CliFailure> connect_to_service(
    const Environment& environment, const ClientIdentity& client, const Diagnostics& diagnostics);

// The one exchange of a handshaken connection, whose socket is closed afterwards. An error
// answer comes back as its failure, as does a channel that breaks on the way.
[[nodiscard]] std::expected<ReceivedAnswer, CliFailure> exchange_with_service(
    Connection& connection, const Request& request, Language language,
    const Diagnostics& diagnostics);

// How a request is named in the diagnostic lines: "ls", "exec（主机 web-1）", ...
[[nodiscard]] std::string request_label(const Request& request);

}  // namespace pendrel
