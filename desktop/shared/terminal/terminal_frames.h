// The attach protocol between a terminal and its client, once the opening is over: frames of
// a 4-byte big-endian length, then a kind byte and its body.
//   client → terminal: 'd' the person's input, 'w' a window size, 'q' detach
//   terminal → client: 'd' the shell's output, 't' another client took over, 'e' the shell
//   ended (its exit status, or none, and why)
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "desktop/shared/terminal/terminal_backend.h"

namespace pendrel::desktop {

enum class TerminalFrameKind : char {
  data = 'd',
  window = 'w',
  detach = 'q',
  taken_over = 't',
  ended = 'e',
};

// The largest body a frame carries: a relay reads and writes in chunks of this size.
inline constexpr std::size_t max_terminal_frame_body = 64 * 1024;

[[nodiscard]] std::string terminal_frame(TerminalFrameKind kind, std::string_view body = {});
[[nodiscard]] std::string window_frame(WindowSize size);
[[nodiscard]] std::string ended_frame(const ShellEnding& ending);

struct TerminalFrame {
  TerminalFrameKind kind = TerminalFrameKind::data;
  std::string body;
};

[[nodiscard]] std::optional<WindowSize> window_of(std::string_view body);
[[nodiscard]] ShellEnding ending_of(std::string_view body);

// Collects frames from a stream read in pieces of any size.
class TerminalFrameReader {
 public:
  void feed(std::string_view bytes) { pending_.append(bytes); }
  // The next whole frame; nothing while it has not all arrived. A frame longer than the limit
  // or without a kind makes the stream unusable: `broken` then says so.
  [[nodiscard]] std::optional<TerminalFrame> next();
  [[nodiscard]] bool broken() const { return broken_; }

 private:
  std::string pending_;
  std::size_t start_ = 0;
  bool broken_ = false;
};

}  // namespace pendrel::desktop
