// One incoming frame, read with poll so that a silent client cannot hold the reader forever
// and a stopping service can abandon it.
#include "protocol/frame_reader.h"

#include <poll.h>
#include <simdjson.h>
#include <sys/socket.h>

#include <cerrno>

namespace pendrel {
namespace {

using Clock = std::chrono::steady_clock;

enum class Filled { full, ended, failed };

struct Fill {
  Filled state = Filled::full;
  std::size_t count = 0;
  FrameError error;  // failed
};

// Waits for the socket to be readable; a failure when the deadline passes or the interrupt
// fires first.
std::expected<void, FrameError> wait_readable(int socket, const FrameWait& wait) {
  while (true) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(wait.deadline - Clock::now());
    if (left.count() <= 0) return std::unexpected(FrameError{FrameError::Kind::timed_out, {}, 0});
    pollfd fds[2] = {{socket, POLLIN, 0}, {wait.interrupt_fd, POLLIN, 0}};
    nfds_t count = wait.interrupt_fd >= 0 ? 2 : 1;
    int ready = ::poll(fds, count, static_cast<int>(std::min<long long>(left.count(), 60'000)));
    if (ready < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(FrameError{FrameError::Kind::io, IoError::from_errno(errno), 0});
    }
    if (count == 2 && fds[1].revents != 0) {
      return std::unexpected(FrameError{FrameError::Kind::interrupted, {}, 0});
    }
    // Hang-ups and errors are readable too: the recv that follows reports them.
    if (fds[0].revents != 0) return {};
  }
}

Fill fill(int socket, char* buffer, std::size_t size, const FrameWait& wait) {
  Fill result;
  while (result.count < size) {
    if (auto ready = wait_readable(socket, wait); !ready) {
      result.state = Filled::failed;
      result.error = ready.error();
      return result;
    }
    ssize_t got = ::recv(socket, buffer + result.count, size - result.count, MSG_DONTWAIT);
    if (got < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
      if (errno == ECONNRESET) {
        result.state = Filled::ended;
        return result;
      }
      result.state = Filled::failed;
      result.error = FrameError{FrameError::Kind::io, IoError::from_errno(errno), 0};
      return result;
    }
    if (got == 0) {
      result.state = Filled::ended;
      return result;
    }
    result.count += static_cast<std::size_t>(got);
  }
  return result;
}

}  // namespace

std::string FrameError::text() const {
  switch (kind) {
    case Kind::closed:
      return "closed before a frame";
    case Kind::io:
      return "read failed: " + io.text();
    case Kind::too_large:
      return "frame of " + std::to_string(announced) + " bytes is over the limit";
    case Kind::truncated:
      return "closed inside a frame";
    case Kind::timed_out:
      return "no complete frame in time";
    case Kind::interrupted:
      return "interrupted";
  }
  return {};
}

std::expected<PaddedPayload, FrameError> read_frame(int socket, std::uint32_t limit,
                                                    const FrameWait& wait) {
  char prefix[4] = {};
  Fill header = fill(socket, prefix, sizeof prefix, wait);
  if (header.state == Filled::failed) return std::unexpected(header.error);
  if (header.state == Filled::ended) {
    auto kind = header.count == 0 ? FrameError::Kind::closed : FrameError::Kind::truncated;
    return std::unexpected(FrameError{kind, {}, 0});
  }
  std::uint32_t length = 0;
  for (char byte : prefix)
    length = (length << 8) | static_cast<unsigned char>(byte);
  if (length > limit) {
    return std::unexpected(FrameError{FrameError::Kind::too_large, {}, length});
  }

  PaddedPayload payload;
  payload.size = length;
  // Value-initialised, so that the padding after the payload is zero.
  payload.bytes = std::make_unique<char[]>(length + simdjson::SIMDJSON_PADDING);
  Fill body = fill(socket, payload.bytes.get(), length, wait);
  if (body.state == Filled::failed) return std::unexpected(body.error);
  if (body.state == Filled::ended) {
    return std::unexpected(FrameError{FrameError::Kind::truncated, {}, 0});
  }
  return payload;
}

}  // namespace pendrel
