// Reading one incoming frame on the desktop side: the announced length is checked against a
// limit before any payload byte is read, and the payload lands in one buffer padded for
// simdjson; the wait is bounded by a deadline and can be interrupted.
#pragma once

#include <chrono>
#include <cstdint>
#include <expected>
#include <memory>
#include <string>
#include <string_view>

#include "protocol/io_error.h"

namespace pendrel {

// The largest request payload accepted, the same bound as for answers.
inline constexpr std::uint32_t max_request_bytes = 16'777'216;

// A received payload followed by simdjson::SIMDJSON_PADDING zero bytes.
struct PaddedPayload {
  std::unique_ptr<char[]> bytes;
  std::size_t size = 0;
  [[nodiscard]] std::string_view view() const { return {bytes.get(), size}; }
};

struct FrameError {
  enum class Kind { closed, io, too_large, truncated, timed_out, interrupted };
  Kind kind = Kind::closed;
  IoError io;                   // io
  std::uint64_t announced = 0;  // too_large

  // For the service log: "closed before a frame", "frame of 20000000 bytes is over the
  // limit", "closed inside a frame", "read failed: …", "no complete frame in time",
  // "interrupted".
  [[nodiscard]] std::string text() const;
};

struct FrameWait {
  std::chrono::steady_clock::time_point deadline;
  int interrupt_fd = -1;  // readable (or hung up): give up at once; -1 for none
};

// Reads one frame from `socket`: closed when the stream ends before the first byte,
// truncated when it ends later, too_large above `limit` (the limit itself is accepted).
[[nodiscard]] std::expected<PaddedPayload, FrameError> read_frame(int socket, std::uint32_t limit,
                                                                  const FrameWait& wait);

}  // namespace pendrel
