#include "desktop/broker/admin/terminal_relay.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <optional>

#include "desktop/shared/terminal/terminal_frames.h"
#include "protocol/fd_io.h"
#include "protocol/unique_fd.h"

namespace pendrel::desktop {
namespace {

// Signals reach the relay's loop through a pipe: the handler only writes the number.
int signal_pipe_write = -1;
void forward_signal(int signal) {
  int saved = errno;
  auto byte = static_cast<unsigned char>(signal);
  (void)::write(signal_pipe_write, &byte, 1);
  errno = saved;
}

constexpr std::array<int, 5> watched_signals = {SIGWINCH, SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// The person's terminal in raw mode while it lives, as it was before on every way out.
class RawMode {
 public:
  explicit RawMode(int tty) : tty_(tty) {
    termios current{};
    if (::tcgetattr(tty_, &current) != 0) return;
    saved_ = current;
    current.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                              ICRNL | IXON | IXOFF);
    current.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    current.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    current.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB);
    current.c_cflag |= CS8;
    current.c_cc[VMIN] = 1;
    current.c_cc[VTIME] = 0;
    ::tcsetattr(tty_, TCSADRAIN, &current);
  }
  ~RawMode() {
    if (saved_) ::tcsetattr(tty_, TCSADRAIN, &*saved_);
  }
  RawMode(const RawMode&) = delete;
  RawMode& operator=(const RawMode&) = delete;

 private:
  int tty_;
  std::optional<termios> saved_;
};

// The handlers, installed while the relay runs and put back after.
class SignalForwarding {
 public:
  explicit SignalForwarding(int write_end) {
    signal_pipe_write = write_end;
    struct sigaction action {};
    action.sa_handler = forward_signal;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < watched_signals.size(); ++i)
      ::sigaction(watched_signals[i], &action, &previous_[i]);
  }
  ~SignalForwarding() {
    for (std::size_t i = 0; i < watched_signals.size(); ++i)
      ::sigaction(watched_signals[i], &previous_[i], nullptr);
    signal_pipe_write = -1;
  }
  SignalForwarding(const SignalForwarding&) = delete;
  SignalForwarding& operator=(const SignalForwarding&) = delete;

 private:
  std::array<struct sigaction, watched_signals.size()> previous_{};
};

bool send_all(int socket, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t sent = ::send(socket, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    done += static_cast<std::size_t>(sent);
  }
  return true;
}

std::string ending_line(const std::string& id, const ShellEnding& ending) {
  if (ending.exit_status && !ending.reason.empty())
    return "terminal " + id + " ended: " + ending.reason + " (the shell's exit status " +
           std::to_string(*ending.exit_status) + ")";
  if (ending.exit_status)
    return "terminal " + id + " ended: the shell exited with status " +
           std::to_string(*ending.exit_status);
  return "terminal " + id +
         " ended: " + (ending.reason.empty() ? std::string("the shell is gone") : ending.reason);
}

}  // namespace

WindowSize current_window_size() {
  winsize value{};
  for (int fd : {STDOUT_FILENO, STDIN_FILENO}) {
    if (::ioctl(fd, TIOCGWINSZ, &value) == 0 && value.ws_row > 0 && value.ws_col > 0)
      return WindowSize{value.ws_row, value.ws_col};
  }
  return WindowSize{};
}

RelayEnd relay_terminal(int socket, const std::string& id, const std::string& host_name) {
  int pipe_ends[2];
  if (::pipe2(pipe_ends, O_CLOEXEC | O_NONBLOCK) != 0)
    return RelayEnd{1, "cannot watch for signals"};
  UniqueFd signals_in(pipe_ends[0]);
  UniqueFd signals_out(pipe_ends[1]);
  (void)write_all(STDERR_FILENO,
                  "attached to terminal " + id + " on " + host_name + "; Ctrl-\\ detaches\r\n");
  SignalForwarding forwarding(signals_out.get());
  std::optional<RelayEnd> end;
  {
    RawMode raw(STDIN_FILENO);
    if (!send_all(socket, window_frame(current_window_size())))
      return RelayEnd{1, "the connection to the service was lost"};
    TerminalFrameReader reader;
    std::array<char, 16384> buffer{};
    bool input_open = true;
    while (!end) {
      pollfd fds[3] = {{input_open ? STDIN_FILENO : -1, POLLIN, 0},
                       {socket, POLLIN, 0},
                       {signals_in.get(), POLLIN, 0}};
      if (::poll(fds, 3, -1) < 0) {
        if (errno == EINTR) continue;
        end = RelayEnd{1, "the relay failed"};
        break;
      }
      if (fds[2].revents != 0) {
        unsigned char signal = 0;
        while (::read(signals_in.get(), &signal, 1) == 1) {
          if (signal == SIGWINCH) {
            if (!send_all(socket, window_frame(current_window_size())))
              end = RelayEnd{1, "the connection to the service was lost"};
          } else {
            // Told to go: the terminal stays open in the service, as after a detach.
            (void)send_all(socket, terminal_frame(TerminalFrameKind::detach));
            end = RelayEnd{128 + signal,
                           "detached from terminal " + id + " by signal " + std::to_string(signal)};
          }
        }
      }
      if (!end && fds[0].revents != 0) {
        ssize_t got = ::read(STDIN_FILENO, buffer.data(), buffer.size());
        if (got <= 0 && !(got < 0 && (errno == EINTR || errno == EAGAIN))) {
          input_open = false;  // the output still comes until the shell ends
        } else if (got > 0) {
          std::string_view typed(buffer.data(), static_cast<std::size_t>(got));
          auto key = typed.find(detach_key);
          if (!send_all(socket, terminal_frame(TerminalFrameKind::data, typed.substr(0, key))))
            end = RelayEnd{1, "the connection to the service was lost"};
          else if (key != std::string_view::npos) {
            (void)send_all(socket, terminal_frame(TerminalFrameKind::detach));
            end = RelayEnd{0, "detached from terminal " + id + "; pendrel-desktop attach " + id +
                                  " returns to it"};
          }
        }
      }
      if (!end && fds[1].revents != 0) {
        ssize_t got = ::recv(socket, buffer.data(), buffer.size(), 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
          end = RelayEnd{1, "terminal " + id + ": the connection to the service was lost"};
          break;
        }
        reader.feed(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
        while (!end) {
          auto frame = reader.next();
          if (!frame) break;
          if (frame->kind == TerminalFrameKind::data) {
            (void)write_all(STDOUT_FILENO, frame->body);
          } else if (frame->kind == TerminalFrameKind::taken_over) {
            end = RelayEnd{0, "terminal " + id + " was taken over by another client"};
          } else if (frame->kind == TerminalFrameKind::ended) {
            ShellEnding ending = ending_of(frame->body);
            end = RelayEnd{ending.exit_status.value_or(1), ending_line(id, ending)};
          }
        }
        if (!end && reader.broken()) end = RelayEnd{1, "the service sent what is not a terminal"};
      }
    }
  }  // the person's terminal is restored here, before the closing line
  return *end;
}

}  // namespace pendrel::desktop
