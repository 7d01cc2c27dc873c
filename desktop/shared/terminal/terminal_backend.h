// One open shell as a terminal sees it, whether a local pty or an SSH channel: a descriptor
// that carries the shell's output and the person's input, a window size, and how it ended.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace pendrel::desktop {

struct WindowSize {
  std::uint16_t rows = 24;
  std::uint16_t columns = 80;
};

// How a shell ended: its exit status (128 + the signal's number for a signal) when it had one,
// and otherwise why it was cut off ("the connection to web-1 was lost").
struct ShellEnding {
  std::optional<int> exit_status;
  std::string reason;
};

class TerminalBackend {
 public:
  virtual ~TerminalBackend() = default;

  // Non-blocking. Readable when the shell has output; a read that returns 0 or fails with EIO
  // means the shell is gone. Writes are the person's (or a typed command's) input.
  [[nodiscard]] virtual int descriptor() const = 0;

  // The size the shell's programs see; they are told of a change (SIGWINCH).
  virtual void resize(WindowSize size) = 0;

  // For a local pty: whether the shell itself is the terminal's foreground process group.
  // Unknown (nullopt) where process groups cannot be seen, as over SSH.
  [[nodiscard]] virtual std::optional<bool> shell_in_foreground() const = 0;

  // Once the descriptor has ended: how the shell ended. Waits briefly at most.
  [[nodiscard]] virtual ShellEnding ending() = 0;

  // Ends the shell (a hang-up to its session), for a person who closes it or a service that
  // stops. The descriptor then ends.
  virtual void hang_up() = 0;

  // Readable once the shell has ended while its descriptor may stay open (a background job
  // of a local shell holds the pty); -1 where the descriptor's own end says it.
  [[nodiscard]] virtual int ended_descriptor() const { return -1; }
};

}  // namespace pendrel::desktop
