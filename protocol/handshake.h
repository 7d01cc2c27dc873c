// The handshake: Hello out, Welcome (or an error answer) back, on a freshly opened channel.
#pragma once

#include <expected>
#include <string>

#include "protocol/channel.h"
#include "protocol/messages.h"

namespace pendrel {

// Why no Connection could be made.
struct ConnectError {
  enum class Kind { not_running, io, app, protocol };
  Kind kind = Kind::not_running;
  IoError io;      // io
  ErrorBody body;  // app: the application's error, or protocol_mismatch for a too-old peer
  std::string text;  // protocol: "握手时连接被关闭", "握手时收到 {}", or a read failure's text
};

// Opens the channel in the working data directory and runs the handshake. The socket is
// closed on every failure. A Welcome with protocol 0 is too old; there is no upper bound.
[[nodiscard]] std::expected<Connection, ConnectError> connect_and_handshake(
    const std::string& working_data_dir, const Hello& hello);

}  // namespace pendrel
