#include "desktop/broker/console/console_terminal.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace pendrel::desktop {
namespace {

// The self-pipe the handlers write to; one console per process.
int stop_pipe[2] = {-1, -1};
constexpr int stopping_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
struct sigaction previous[sizeof stopping_signals / sizeof stopping_signals[0]];

void on_stop_signal(int) {
  int saved = errno;
  char byte = 1;
  (void)!::write(stop_pipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

std::expected<ConsoleTerminal, std::string> ConsoleTerminal::open() {
  if (!::isatty(STDIN_FILENO) || !::isatty(STDOUT_FILENO))
    return std::unexpected(
        "the console needs a terminal on its input and output (the secret is typed there)");
  ConsoleTerminal terminal;
  if (::tcgetattr(STDIN_FILENO, &terminal.saved_) != 0)
    return std::unexpected(std::string("cannot read the terminal's settings: ") +
                           std::strerror(errno));
  if (stop_pipe[0] < 0 && ::pipe2(stop_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
    return std::unexpected(std::string("cannot make a pipe: ") + std::strerror(errno));
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  for (std::size_t i = 0; i < std::size(stopping_signals); ++i)
    ::sigaction(stopping_signals[i], &action, &previous[i]);
  termios raw = terminal.saved_;
  // Keys one at a time, never echoed; Ctrl-C and the rest still raise their signals.
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | IEXTEN);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  if (::tcsetattr(STDIN_FILENO, TCSAFLUSH, &raw) != 0)
    return std::unexpected(std::string("cannot set the terminal: ") + std::strerror(errno));
  terminal.restore_ = true;
  return terminal;
}

ConsoleTerminal::ConsoleTerminal(ConsoleTerminal&& other) noexcept
    : saved_(other.saved_), restore_(other.restore_) {
  other.restore_ = false;
}

ConsoleTerminal::~ConsoleTerminal() {
  if (!restore_) return;
  ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_);
  for (std::size_t i = 0; i < std::size(stopping_signals); ++i)
    ::sigaction(stopping_signals[i], &previous[i], nullptr);
}

int ConsoleTerminal::stop_fd() const {
  return stop_pipe[0];
}

}  // namespace pendrel::desktop
