// The socket channel: opening it, writing frames, reading answer frames, one request exchange.
#include "protocol/channel.h"

#include <simdjson.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>

#include "protocol/lexical_path.h"
#include "protocol/response_decoding.h"

namespace pendrel {
namespace {

constexpr std::size_t prefix_bytes = 4;

IoError unexpected_end() {
  return IoError::fixed(IoError::Kind::unexpected_eof, "failed to fill whole buffer");
}

// How much of a receive arrived, and the error that ended it early, if any.
struct Received {
  std::size_t count = 0;
  std::optional<IoError> error;
};

// Receives until `size` bytes are in `buffer`, the stream ends or a call fails.
Received receive_up_to(int socket, char* buffer, std::size_t size) {
  Received received;
  while (received.count < size) {
    ssize_t got = ::recv(socket, buffer + received.count, size - received.count, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      received.error = IoError::from_errno(errno);
      break;
    }
    if (got == 0) break;
    received.count += static_cast<std::size_t>(got);
  }
  return received;
}

std::unexpected<ProtocolError> io_failure(IoError error) {
  return std::unexpected(ProtocolError{ProtocolError::Kind::io, error, 0, {}});
}

// Rule for I/O failures within an exchange: a peer that went away is a closed channel.
ExchangeError exchange_error_from(const IoError& error) {
  if (error.means_peer_gone()) return ExchangeError{ExchangeError::Kind::closed, {}, {}};
  return ExchangeError{ExchangeError::Kind::io, error, {}};
}

}  // namespace

std::expected<UniqueFd, OpenError> open_channel(const std::string& data_dir) {
  std::string path = join_path(data_dir, "run/cli.sock");
  UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!socket) return std::unexpected(IoError::from_errno(errno));

  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.find('\0') != std::string::npos) {
    return std::unexpected(
        IoError::fixed(IoError::Kind::invalid_input, "paths must not contain interior null bytes"));
  }
  if (path.size() >= sizeof address.sun_path) {
    return std::unexpected(
        IoError::fixed(IoError::Kind::invalid_input, "path must be shorter than SUN_LEN"));
  }
  std::memcpy(address.sun_path, path.data(), path.size());
  auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
  if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), length) != 0) {
    int error = errno;
    if (error == ENOENT || error == ECONNREFUSED) return std::unexpected(NotRunning{});
    return std::unexpected(IoError::from_errno(error));
  }
  return socket;
}

std::expected<void, IoError> write_frame(int socket, std::string_view payload) {
  if (payload.size() > std::numeric_limits<std::uint32_t>::max()) {
    return std::unexpected(IoError::fixed(IoError::Kind::invalid_input, "消息过大"));
  }
  // One buffer, so that a small request leaves in a single send.
  auto length = static_cast<std::uint32_t>(payload.size());
  std::string frame;
  frame.reserve(prefix_bytes + payload.size());
  for (int shift = 24; shift >= 0; shift -= 8) {
    frame += static_cast<char>((length >> shift) & 0xFFu);
  }
  frame += payload;

  std::string_view unsent = frame;
  while (!unsent.empty()) {
    // MSG_NOSIGNAL: a vanished peer must yield EPIPE, not kill the process.
    ssize_t sent = ::send(socket, unsent.data(), unsent.size(), MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(IoError::from_errno(errno));
    }
    if (sent == 0) {
      return std::unexpected(
          IoError::fixed(IoError::Kind::write_zero, "failed to write whole buffer"));
    }
    unsent.remove_prefix(static_cast<std::size_t>(sent));
  }
  return {};
}

std::string ProtocolError::text() const {
  switch (kind) {
    case Kind::closed:
      return "连接已关闭";
    case Kind::io:
      return "读写失败：" + io.text();
    case Kind::too_large:
      return "消息过大（" + std::to_string(announced) + " 字节）";
    case Kind::malformed:
      return "消息格式错误：" + description;
  }
  return {};
}

std::expected<PaddedPayload, ProtocolError> read_answer_frame(int socket) {
  char prefix[prefix_bytes] = {};
  Received header = receive_up_to(socket, prefix, prefix_bytes);
  // Before the first byte, a peer that hung up or went away has simply closed the channel.
  if (header.count == 0 && (!header.error || header.error->means_peer_gone())) {
    return std::unexpected(ProtocolError{});
  }
  if (header.error) return io_failure(*header.error);
  if (header.count < prefix_bytes) return io_failure(unexpected_end());

  std::uint32_t length = 0;
  for (char byte : prefix)
    length = (length << 8) | static_cast<unsigned char>(byte);
  if (length > max_answer_bytes) {
    return std::unexpected(ProtocolError{ProtocolError::Kind::too_large, {}, length, {}});
  }

  // With simdjson's padding after the payload so that it is parsed in place. Only the padding
  // is zeroed: recv fills the payload, and clearing 16 MiB first would touch every page twice.
  auto buffer = std::make_unique_for_overwrite<char[]>(length + simdjson::SIMDJSON_PADDING);
  std::memset(buffer.get() + length, 0, simdjson::SIMDJSON_PADDING);
  Received payload = receive_up_to(socket, buffer.get(), length);
  if (payload.error) return io_failure(*payload.error);
  if (payload.count < length) return io_failure(unexpected_end());
  return PaddedPayload{std::move(buffer), length};
}

std::expected<Response, ProtocolError> read_answer(int socket) {
  auto frame = read_answer_frame(socket);
  if (!frame) return std::unexpected(std::move(frame.error()));
  auto response = decode_response(std::move(frame->bytes), frame->size);
  if (!response) {
    return std::unexpected(
        ProtocolError{ProtocolError::Kind::malformed, {}, 0, std::move(response.error())});
  }
  return std::move(*response);
}

namespace {

ExchangeError exchange_error_from(const ProtocolError& error) {
  switch (error.kind) {
    case ProtocolError::Kind::closed:
      return ExchangeError{ExchangeError::Kind::closed, {}, {}};
    case ProtocolError::Kind::io:
      return exchange_error_from(error.io);
    case ProtocolError::Kind::too_large:
    case ProtocolError::Kind::malformed:
      break;
  }
  return ExchangeError{ExchangeError::Kind::protocol, {}, error.text()};
}

}  // namespace

std::expected<PaddedPayload, ExchangeError> exchange_for_frame(Connection& connection,
                                                               const Request& request) {
  if (auto written = write_frame(connection.socket.get(), encode_request(request)); !written) {
    return std::unexpected(exchange_error_from(written.error()));
  }
  auto frame = read_answer_frame(connection.socket.get());
  if (!frame) return std::unexpected(exchange_error_from(frame.error()));
  return std::move(*frame);
}

std::expected<Response, ExchangeError> decode_answer_frame(PaddedPayload frame) {
  auto response = decode_response(std::move(frame.bytes), frame.size);
  if (response) return std::move(*response);
  return std::unexpected(exchange_error_from(
      ProtocolError{ProtocolError::Kind::malformed, {}, 0, std::move(response.error())}));
}

std::expected<Response, ExchangeError> exchange(Connection& connection, const Request& request) {
  auto frame = exchange_for_frame(connection, request);
  if (!frame) return std::unexpected(std::move(frame.error()));
  return decode_answer_frame(std::move(*frame));
}

}  // namespace pendrel
