// The bytes on the socket, length prefix included, as either side could send them: pendrel
// reads one answer frame and decodes it, the service reads one request frame; each read ends
// in a frame or a reason, and nothing crashes or waits for ever once the peer has finished.
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "fuzz_check.h"
#include "protocol/channel.h"
#include "protocol/fd_io.h"
#include "protocol/frame_reader.h"
#include "protocol/unique_fd.h"

namespace {

// What fits in a socket pair's buffer, so that the whole input is written before the read.
constexpr std::size_t max_input = 64 * 1024;

// Our end of a socket pair whose other end has sent `bytes` and finished.
pendrel::UniqueFd socket_holding(std::string_view bytes) {
  using namespace pendrel;
  int ends[2];
  fuzz::check(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) == 0, "a socket pair");
  UniqueFd ours(ends[0]);
  UniqueFd peer(ends[1]);
  int buffer = static_cast<int>(2 * max_input);
  ::setsockopt(peer.get(), SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
  fuzz::check(write_all(peer.get(), bytes).has_value(), "the input fits in the socket buffer");
  return ours;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace pendrel;
  if (size > max_input) return -1;
  auto bytes = fuzz::as_text(data, size);
  // Both readers allocate the announced length before reading, up to 16 MiB: a frame cut short
  // far before that end takes no other path than one cut a little short, and filling 16 MiB
  // under the sanitizers costs a hundred executions, so such inputs are left out.
  if (size >= 4) {
    std::uint64_t announced = (std::uint64_t{data[0]} << 24) | (std::uint64_t{data[1]} << 16) |
                              (std::uint64_t{data[2]} << 8) | std::uint64_t{data[3]};
    if (announced <= max_request_bytes && announced > size - 4 + max_input) return -1;
  }

  UniqueFd service_end = socket_holding(bytes);
  auto frame = read_frame(service_end.get(), max_request_bytes,
                          {std::chrono::steady_clock::now() + std::chrono::seconds(5), -1});
  if (frame) {
    fuzz::check(frame->size + 4 <= size, "a frame holds no more than was sent");
  } else {
    fuzz::check(frame.error().kind != FrameError::Kind::timed_out,
                "a finished peer is not waited for");
  }

  UniqueFd ours = socket_holding(bytes);
  auto answer = read_answer(ours.get());
  if (!answer) {
    const ProtocolError& error = answer.error();
    fuzz::check(!error.text().empty(), "every read failure has a text");
    // Nothing at all is a close; a close inside the length prefix is an I/O failure.
    if (size == 0) fuzz::check(error.kind == ProtocolError::Kind::closed, "no bytes is a close");
    if (size > 0 && size < 4) {
      fuzz::check(error.kind == ProtocolError::Kind::io, "a cut prefix is an I/O failure");
    }
  }
  return 0;
}
