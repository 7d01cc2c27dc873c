#include "desktop/shared/link/descriptor_frames.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include <simdjson.h>

#include "protocol/fd_io.h"
#include "protocol/os_error.h"

namespace pendrel::desktop {
namespace {

// More than any message of ours carries: the standard streams, a terminal and two files.
constexpr std::size_t max_descriptors = 8;

std::string length_prefix(std::size_t size) {
  std::string prefix(4, '\0');
  for (int i = 0; i < 4; ++i)
    prefix[static_cast<std::size_t>(i)] = static_cast<char>((size >> (8 * (3 - i))) & 0xff);
  return prefix;
}

}  // namespace

ssize_t send_with_descriptors(int socket, std::string_view bytes, std::span<const int> descriptors,
                              int flags) {
  if (descriptors.size() > max_descriptors) {
    errno = E2BIG;
    return -1;
  }
  iovec part{const_cast<char*>(bytes.data()), bytes.size()};
  msghdr message{};
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * max_descriptors)]{};
  if (!descriptors.empty()) {
    message.msg_control = control;
    message.msg_controllen = CMSG_SPACE(sizeof(int) * descriptors.size());
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int) * descriptors.size());
    std::memcpy(CMSG_DATA(header), descriptors.data(), sizeof(int) * descriptors.size());
  }
  return ::sendmsg(socket, &message, flags);
}

std::expected<void, int> write_frame_with_descriptors(int socket, std::string_view payload,
                                                      std::span<const int> descriptors) {
  if (descriptors.size() > max_descriptors) return std::unexpected(E2BIG);
  std::string bytes = length_prefix(payload.size());
  bytes.append(payload);
  ssize_t sent;
  do {
    sent = send_with_descriptors(socket, bytes, descriptors, MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  if (sent < 0) return std::unexpected(errno);
  // The descriptors went with the first byte; the rest is plain data.
  auto rest = std::string_view(bytes).substr(static_cast<std::size_t>(sent));
  if (!rest.empty()) {
    if (auto written = write_all(socket, rest); !written) return std::unexpected(EPIPE);
  }
  return {};
}

std::expected<FrameWithDescriptors, std::string> read_frame_with_descriptors(
    int socket, std::uint32_t limit, std::chrono::steady_clock::time_point deadline) {
  pollfd entry{socket, POLLIN, 0};
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::unexpected("no frame in time");
    int ready = ::poll(&entry, 1, static_cast<int>(left.count()));
    if (ready > 0) break;
    if (ready < 0 && errno != EINTR) return std::unexpected("poll: " + os_error_text(errno));
  }
  // The prefix is read alone, so that the descriptors sent with the first byte arrive here.
  unsigned char prefix[4];
  ReceivedWithDescriptors start;
  do {
    start = receive_with_descriptors(socket, prefix, sizeof prefix, MSG_WAITALL);
  } while (start.received < 0 && errno == EINTR);
  FrameWithDescriptors frame;
  frame.descriptors = std::move(start.descriptors);
  const ssize_t got = start.received;
  if (got < 0) return std::unexpected("read failed: " + os_error_text(errno));
  if (got == 0) return std::unexpected("closed before a frame");
  if (got != 4 || start.truncated) return std::unexpected("a frame that does not start as one");
  std::uint32_t size = (std::uint32_t{prefix[0]} << 24) | (std::uint32_t{prefix[1]} << 16) |
                       (std::uint32_t{prefix[2]} << 8) | std::uint32_t{prefix[3]};
  if (size > limit) return std::unexpected("a frame over the limit");
  // Value-initialised, so that simdjson's padding after the payload is zero.
  frame.payload.bytes = std::make_unique<char[]>(size + simdjson::SIMDJSON_PADDING);
  frame.payload.size = size;
  std::size_t filled = 0;
  while (filled < size) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::unexpected("no complete frame in time");
    if (::poll(&entry, 1, static_cast<int>(left.count())) < 0 && errno != EINTR)
      return std::unexpected("poll: " + os_error_text(errno));
    ssize_t read = ::recv(socket, frame.payload.bytes.get() + filled, size - filled, MSG_DONTWAIT);
    if (read == 0) return std::unexpected("closed inside a frame");
    if (read < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return std::unexpected("read failed: " + os_error_text(errno));
    }
    filled += static_cast<std::size_t>(read);
  }
  return frame;
}

ReceivedWithDescriptors receive_with_descriptors(int socket, void* buffer, std::size_t size,
                                                 int flags) {
  iovec part{buffer, size};
  msghdr message{};
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * max_descriptors)]{};
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  ReceivedWithDescriptors result;
  result.received = ::recvmsg(socket, &message, flags | MSG_CMSG_CLOEXEC);
  const int saved_errno = errno;
  result.truncated = (message.msg_flags & MSG_CTRUNC) != 0;
  for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
       header = CMSG_NXTHDR(&message, header)) {
    if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS) continue;
    std::size_t count = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
    for (std::size_t i = 0; i < count; ++i) {
      int fd;
      std::memcpy(&fd, CMSG_DATA(header) + i * sizeof(int), sizeof fd);
      result.descriptors.emplace_back(fd);
    }
  }
  errno = saved_errno;  // for the caller, who reads it when nothing was received
  return result;
}

}  // namespace pendrel::desktop
