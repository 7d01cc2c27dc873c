#include "desktop/broker/vault/password_input.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>

#include "protocol/fd_io.h"
#include "protocol/os_error.h"

namespace pendrel::desktop {
namespace {

constexpr std::array<int, 4> interrupting_signals = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// A signal handler can reach only static storage; the prompt runs once at a time.
volatile std::sig_atomic_t caught_signal = 0;

extern "C" void remember_signal(int number) {
  caught_signal = number;
}

std::unexpected<PasswordInputError> fail(PasswordInputFailure failure, std::string detail) {
  return std::unexpected(PasswordInputError{failure, std::move(detail)});
}

// Reads one line into guarded memory, byte by byte. `wait_readable` is called before every
// read and may refuse (answering an error) instead.
template <class Wait>
std::expected<SecretString, PasswordInputError> read_line(int fd, Wait wait_readable) {
  SecretBytes line(max_password_bytes + 1);
  std::size_t length = 0;
  bool ended_by_newline = false;
  while (true) {
    if (auto ready = wait_readable(); !ready) return std::unexpected(ready.error());
    unsigned char byte = 0;
    const ssize_t got = ::read(fd, &byte, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && errno == EAGAIN) {
      // A non-blocking descriptor from the caller: wait for input instead of spinning.
      pollfd entry{fd, POLLIN, 0};
      ::poll(&entry, 1, -1);
      continue;
    }
    if (got < 0) return fail(PasswordInputFailure::io_failed, "read: " + os_error_text(errno));
    if (got == 0) break;
    if (byte == '\n') {
      ended_by_newline = true;
      break;
    }
    if (length == max_password_bytes) {
      return fail(PasswordInputFailure::too_long, "the password is longer than 1024 bytes");
    }
    line.data()[length++] = byte;
  }
  if (length > 0 && line.data()[length - 1] == '\r') --length;
  if (length == 0) {
    if (!ended_by_newline) return fail(PasswordInputFailure::cancelled, "no password was given");
    return fail(PasswordInputFailure::empty, "the password is empty");
  }
  line.shrink(length);
  return line;
}

// Waits for input with the interrupting signals unblocked only inside ppoll, so that a signal
// can never slip in between a check and a blocking read.
std::expected<void, PasswordInputError> wait_for_terminal(int tty, const sigset_t& waiting_mask) {
  while (true) {
    pollfd entry{tty, POLLIN, 0};
    const int ready = ::ppoll(&entry, 1, nullptr, &waiting_mask);
    if (caught_signal != 0) return fail(PasswordInputFailure::cancelled, "interrupted");
    if (ready > 0) return {};
    if (ready < 0 && errno != EINTR) {
      return fail(PasswordInputFailure::io_failed, "poll: " + os_error_text(errno));
    }
  }
}

}  // namespace

namespace {
int given_terminal = -1;
}  // namespace

void use_terminal_descriptor(int fd) {
  given_terminal = fd;
}

std::expected<UniqueFd, PasswordInputError> open_terminal() {
  if (given_terminal >= 0) {
    UniqueFd copy(::fcntl(given_terminal, F_DUPFD_CLOEXEC, 3));
    if (!copy)
      return fail(PasswordInputFailure::no_terminal, "the terminal: " + os_error_text(errno));
    return copy;
  }
  UniqueFd tty(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!tty) {
    return fail(PasswordInputFailure::no_terminal, "/dev/tty: " + os_error_text(errno));
  }
  return tty;
}

std::expected<SecretString, PasswordInputError> read_password_from_terminal(
    int tty, std::string_view prompt) {
  termios saved{};
  if (::tcgetattr(tty, &saved) != 0) {
    return fail(PasswordInputFailure::no_terminal, "not a terminal: " + os_error_text(errno));
  }
  sigset_t blocked;
  sigemptyset(&blocked);
  for (int number : interrupting_signals)
    sigaddset(&blocked, number);
  sigset_t previous_mask;
  ::pthread_sigmask(SIG_BLOCK, &blocked, &previous_mask);
  sigset_t waiting_mask = previous_mask;
  for (int number : interrupting_signals)
    sigdelset(&waiting_mask, number);

  caught_signal = 0;
  std::array<struct sigaction, interrupting_signals.size()> previous_actions{};
  struct sigaction remember {};
  remember.sa_handler = remember_signal;
  sigemptyset(&remember.sa_mask);
  for (std::size_t i = 0; i < interrupting_signals.size(); ++i) {
    ::sigaction(interrupting_signals[i], &remember, &previous_actions[i]);
  }

  termios quiet = saved;
  quiet.c_lflag &= static_cast<tcflag_t>(~(ECHO | ECHOE | ECHOK));
  quiet.c_lflag |= ECHONL | ICANON;  // the Enter key still moves to the next line
  std::expected<SecretString, PasswordInputError> password;
  if (::tcsetattr(tty, TCSAFLUSH, &quiet) != 0) {
    password = fail(PasswordInputFailure::io_failed, "tcsetattr: " + os_error_text(errno));
  } else {
    (void)write_all(tty, prompt);
    password = read_line(tty, [&] { return wait_for_terminal(tty, waiting_mask); });
  }

  ::tcsetattr(tty, TCSANOW, &saved);
  if (caught_signal != 0) (void)write_all(tty, "\n");
  for (std::size_t i = 0; i < interrupting_signals.size(); ++i) {
    ::sigaction(interrupting_signals[i], &previous_actions[i], nullptr);
  }
  // Still blocked, the signal waits until the old mask returns, then acts as it would have.
  if (caught_signal != 0) ::raise(caught_signal);
  ::pthread_sigmask(SIG_SETMASK, &previous_mask, nullptr);
  return password;
}

std::expected<SecretString, PasswordInputError> read_password_from_descriptor(int fd) {
  return read_line(fd, [] { return std::expected<void, PasswordInputError>{}; });
}

std::expected<SecretString, PasswordInputError> read_password(const PasswordSource& source,
                                                              std::string_view prompt) {
  if (source.descriptor) return read_password_from_descriptor(*source.descriptor);
  auto tty = open_terminal();
  if (!tty) return std::unexpected(tty.error());
  return read_password_from_terminal(tty->get(), prompt);
}

std::expected<SecretString, PasswordInputError> read_new_password(const PasswordSource& source,
                                                                  std::string_view prompt,
                                                                  std::string_view confirm_prompt) {
  if (source.descriptor) return read_password_from_descriptor(*source.descriptor);
  auto tty = open_terminal();
  if (!tty) return std::unexpected(tty.error());
  auto first = read_password_from_terminal(tty->get(), prompt);
  if (!first) return first;
  auto second = read_password_from_terminal(tty->get(), confirm_prompt);
  if (!second) return second;
  if (!secrets_equal(*first, *second)) {
    return fail(PasswordInputFailure::mismatch, "the two passwords differ");
  }
  return first;
}

}  // namespace pendrel::desktop
