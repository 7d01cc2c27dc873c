// The byte channel to the desktop application: the socket run/cli.sock in the data directory,
// carrying length-prefixed frames (4-byte big-endian length, then one JSON payload).
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <variant>

#include "protocol/frame_reader.h"
#include "protocol/io_error.h"
#include "protocol/messages.h"
#include "protocol/unique_fd.h"

namespace pendrel {

// The largest answer payload accepted; the limit itself is allowed.
inline constexpr std::uint32_t max_answer_bytes = 16'777'216;

// Why no channel could be opened.
struct NotRunning {};  // no socket file, or nobody listening
using OpenError = std::variant<NotRunning, IoError>;

// Opens a close-on-exec Unix stream socket and connects it to <data_dir>/run/cli.sock.
// A path with a NUL byte or of 108 bytes or more is an invalid-input IoError.
[[nodiscard]] std::expected<UniqueFd, OpenError> open_channel(const std::string& data_dir);

// Writes the prefix and payload as one buffer, with MSG_NOSIGNAL. A payload longer than the
// 32-bit field fails with the invalid-input error "消息过大" and nothing is written.
[[nodiscard]] std::expected<void, IoError> write_frame(int socket, std::string_view payload);

// The failure of reading one answer frame; its text is Chinese only.
struct ProtocolError {
  enum class Kind { closed, io, too_large, malformed };
  Kind kind = Kind::closed;
  IoError io;                   // io
  std::uint64_t announced = 0;  // too_large
  std::string description;      // malformed: the decoder's description

  // "连接已关闭", "读写失败：{}", "消息过大（{} 字节）", "消息格式错误：{}".
  [[nodiscard]] std::string text() const;
};

// Reads one frame (the length is checked against max_answer_bytes before any payload byte is
// read) into one padded buffer and decodes it as an answer.
[[nodiscard]] std::expected<Response, ProtocolError> read_answer(int socket);
// read_answer up to the decoding: the payload, followed by simdjson's zeroed padding.
[[nodiscard]] std::expected<PaddedPayload, ProtocolError> read_answer_frame(int socket);

// A handshaken channel, used for exactly one request.
struct Connection {
  UniqueFd socket;
  std::string app_version;
  std::uint32_t protocol = 0;
};

// The failure of one request exchange.
struct ExchangeError {
  enum class Kind { io, closed, protocol };
  Kind kind = Kind::closed;
  IoError io;        // io
  std::string text;  // protocol: "消息过大（{} 字节）" or "消息格式错误：{}"
};

// Encodes and sends the request, reads one answer of whatever kind. Peer-gone I/O errors
// (reset, aborted, broken pipe, unexpected end of file) become `closed`.
[[nodiscard]] std::expected<Response, ExchangeError> exchange(Connection& connection,
                                                              const Request& request);

// exchange in two steps, for a caller that looks at the payload before it is decoded: the
// answer's frame as received, then its decoding with exchange's failures.
[[nodiscard]] std::expected<PaddedPayload, ExchangeError> exchange_for_frame(
    Connection& connection, const Request& request);
[[nodiscard]] std::expected<Response, ExchangeError> decode_answer_frame(PaddedPayload frame);

}  // namespace pendrel
