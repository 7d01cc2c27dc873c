// The handshake on a freshly opened channel; every failure drops (and so closes) the socket.
#include "protocol/handshake.h"

#include <type_traits>

namespace pendrel {
namespace {

ConnectError protocol_failure(std::string text) {
  return ConnectError{ConnectError::Kind::protocol, {}, {}, std::move(text)};
}

ConnectError from_open_error(const OpenError& error) {
  if (const auto* io = std::get_if<IoError>(&error)) {
    return ConnectError{ConnectError::Kind::io, *io, {}, {}};
  }
  return ConnectError{ConnectError::Kind::not_running, {}, {}, {}};
}

ConnectError from_read_error(const ProtocolError& error) {
  switch (error.kind) {
    case ProtocolError::Kind::closed:
      return protocol_failure("握手时连接被关闭");
    case ProtocolError::Kind::io:
      return ConnectError{ConnectError::Kind::io, error.io, {}, {}};
    case ProtocolError::Kind::too_large:
    case ProtocolError::Kind::malformed:
      break;
  }
  return protocol_failure(error.text());
}

}  // namespace

std::expected<Connection, ConnectError> connect_and_handshake(const std::string& working_data_dir,
                                                              const Hello& hello) {
  auto socket = open_channel(working_data_dir);
  if (!socket) return std::unexpected(from_open_error(socket.error()));

  // Even a peer that vanished while the Hello was written is an I/O failure here, not a
  // closed channel: nothing has been said yet.
  if (auto written = write_frame(socket->get(), encode_hello(hello)); !written) {
    return std::unexpected(ConnectError{ConnectError::Kind::io, written.error(), {}, {}});
  }
  auto answer = read_answer(socket->get());
  if (!answer) return std::unexpected(from_read_error(answer.error()));

  if (auto* welcome = std::get_if<Welcome>(&*answer)) {
    if (welcome->protocol == 0) {
      ErrorBody too_old{"protocol_mismatch", "Pendrel " + welcome->app_version +
                                                 " 使用的协议版本 " +
                                                 std::to_string(welcome->protocol) + " 太旧"};
      return std::unexpected(ConnectError{ConnectError::Kind::app, {}, std::move(too_old), {}});
    }
    return Connection{std::move(*socket), std::move(welcome->app_version), welcome->protocol};
  }
  if (auto* refusal = std::get_if<ErrorBody>(&*answer)) {
    return std::unexpected(ConnectError{ConnectError::Kind::app, {}, std::move(*refusal), {}});
  }
  return std::unexpected(protocol_failure("握手时收到 " + debug_render(*answer)));
}

}  // namespace pendrel
