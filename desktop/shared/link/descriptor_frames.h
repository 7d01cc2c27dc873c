// Frames that carry open descriptors (SCM_RIGHTS) between the person's processes and the
// broker: a file or a terminal the person opened with their own permissions is handed over,
// so that the broker never opens the person's files by name.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/frame_reader.h"
#include "protocol/unique_fd.h"

namespace pendrel::desktop {

// Writes one frame (4-byte big-endian length, then the payload) with `descriptors` attached
// to its first byte. The error is the errno.
[[nodiscard]] std::expected<void, int> write_frame_with_descriptors(
    int socket, std::string_view payload, std::span<const int> descriptors);

struct FrameWithDescriptors {
  PaddedPayload payload;
  std::vector<UniqueFd> descriptors;  // close-on-exec, in the order they were sent
};

// Reads one frame of at most `limit` bytes and whatever descriptors came with it, waiting until
// `deadline`. The error says what went wrong, for the log.
[[nodiscard]] std::expected<FrameWithDescriptors, std::string> read_frame_with_descriptors(
    int socket, std::uint32_t limit, std::chrono::steady_clock::time_point deadline);

// One sendmsg of `bytes` with `descriptors` (at most 8) attached to its first byte: what
// sendmsg returns (the bytes sent, or -1 with errno set; E2BIG for too many descriptors).
[[nodiscard]] ssize_t send_with_descriptors(int socket, std::string_view bytes,
                                            std::span<const int> descriptors, int flags);

// One recvmsg into `buffer`, keeping whatever descriptors came with it (close-on-exec, each
// owned, so that they are closed unless passed on). `received` is what recvmsg returned (-1
// with errno set); `truncated` says the descriptors did not all fit.
struct ReceivedWithDescriptors {
  ssize_t received = -1;
  bool truncated = false;
  std::vector<UniqueFd> descriptors;
};
[[nodiscard]] ReceivedWithDescriptors receive_with_descriptors(int socket, void* buffer,
                                                               std::size_t size, int flags);

}  // namespace pendrel::desktop
