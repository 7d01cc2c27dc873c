// The console's terminal: keys read one at a time with echo off, restored on every way out,
// and the signals that end the console turned into a readable descriptor.
#pragma once

#include <termios.h>

#include <expected>
#include <string>

#include "protocol/unique_fd.h"

namespace pendrel::desktop {

class ConsoleTerminal {
 public:
  // Standard input must be a terminal: the secret is typed there. Fails saying why.
  [[nodiscard]] static std::expected<ConsoleTerminal, std::string> open();
  ConsoleTerminal(ConsoleTerminal&& other) noexcept;
  ConsoleTerminal& operator=(ConsoleTerminal&&) = delete;
  ~ConsoleTerminal();  // the terminal's settings back, the signals' handlers back

  [[nodiscard]] int input_fd() const { return 0; }
  // Readable once SIGINT, SIGTERM, SIGHUP or SIGQUIT arrived: the console ends cleanly.
  [[nodiscard]] int stop_fd() const;

 private:
  ConsoleTerminal() = default;
  termios saved_{};
  bool restore_ = false;
};

}  // namespace pendrel::desktop
