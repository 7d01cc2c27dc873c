#include "desktop/broker/ssh/ssh_shell_backend.h"

#include <libssh/callbacks.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "desktop/broker/ssh/link_watch.h"
#include "desktop/broker/ssh/signal_names.h"
#include "desktop/broker/ssh/ssh_error.h"
#include "protocol/os_error.h"

namespace pendrel::desktop {
namespace {

using Clock = std::chrono::steady_clock;

// Output read from the channel and not yet taken by the terminal is held here up to this
// much. While it waits, the channel is not read: libssh keeps at most its window (about
// 1.3 MB) and opens it no further, so the remote program waits for the person.
constexpr std::size_t output_chunk = 32 * 1024;
constexpr std::size_t input_chunk = 16 * 1024;
constexpr std::uint32_t output_capacity = output_chunk;
// An SSH keepalive at most this often, so that NAT and firewall state stay fresh.
constexpr std::chrono::milliseconds keepalive_at_most{30'000};
// How long ending() waits for the pumping thread to record the end.
constexpr std::chrono::seconds ending_wait{2};

// What the channel's callbacks report, read by the same thread after each poll.
struct ChannelNews {
  std::optional<int> exit_status;
  std::optional<std::string> exit_signal;
  bool closed = false;
};

void on_exit_status(ssh_session, ssh_channel, int status, void* userdata) {
  static_cast<ChannelNews*>(userdata)->exit_status = status;
}

void on_exit_signal(ssh_session, ssh_channel, const char* signal, int, const char*, const char*,
                    void* userdata) {
  static_cast<ChannelNews*>(userdata)->exit_signal = signal != nullptr ? signal : "";
}

void on_close(ssh_session, ssh_channel, void* userdata) {
  static_cast<ChannelNews*>(userdata)->closed = true;
}

// The pumping loop only looks at its descriptors after each poll; the callbacks just wake it.
int on_descriptor(socket_t, int, void*) {
  return 0;
}

int on_wake(socket_t fd, int, void*) {
  std::uint64_t count = 0;
  [[maybe_unused]] auto drained = ::read(fd, &count, sizeof count);
  return 0;
}

ShellEnding ending_of(const ChannelNews& news) {
  if (news.exit_status) {
    return {news.exit_status, "the shell exited with status " + std::to_string(*news.exit_status)};
  }
  if (news.exit_signal) {
    const int number = signal_number(*news.exit_signal);
    return {number > 0 ? std::optional<int>(128 + number) : std::nullopt,
            "the shell was ended by signal " + server_text(*news.exit_signal, 32)};
  }
  return {std::nullopt, "the host closed the shell without an exit status"};
}

class SshShellBackend final : public TerminalBackend {
 public:
  SshShellBackend(OwnedSession session, OwnedChannel channel, ShellLink link, UniqueFd terminal_end,
                  UniqueFd pump_end, UniqueFd wake)
      : session_(std::move(session)),
        channel_(std::move(channel)),
        link_(std::move(link)),
        terminal_end_(std::move(terminal_end)),
        pump_end_(std::move(pump_end)),
        wake_(std::move(wake)) {}

  ~SshShellBackend() override {
    hang_up();
    if (thread_.joinable()) thread_.join();
  }
  SshShellBackend(const SshShellBackend&) = delete;
  SshShellBackend& operator=(const SshShellBackend&) = delete;

  // False when no thread can be made (the machine is out of them).
  bool start() {
    try {
      thread_ = std::thread([this] { pump(); });
      return true;
    } catch (const std::system_error&) {
      return false;
    }
  }

  int descriptor() const override { return terminal_end_.get(); }

  void resize(WindowSize size) override {
    {
      std::lock_guard lock(mutex_);
      new_size_ = size;
    }
    wake();
  }

  std::optional<bool> shell_in_foreground() const override { return std::nullopt; }

  ShellEnding ending() override {
    std::unique_lock lock(mutex_);
    ended_.wait_for(lock, ending_wait, [this] { return ending_.has_value(); });
    if (ending_) return *ending_;
    return {std::nullopt, "the shell on " + link_.host + " is still running"};
  }

  void hang_up() override {
    {
      std::lock_guard lock(mutex_);
      hang_up_ = true;
    }
    wake();
  }

 private:
  void wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wake_.get(), &one, sizeof one);
  }

  void pump();
  std::optional<ShellEnding> take_requests();
  // Moves the channel's output into the socketpair as far as the terminal takes it; an
  // ending when the terminal's end is gone.
  std::optional<ShellEnding> pass_output();
  void pass_input();
  [[nodiscard]] bool output_left() const;
  void keep_alive(Clock::time_point now);
  ShellEnding link_lost(const LinkWatchdog& watchdog) const;
  void watch_terminal_end(ssh_event event);
  void finish(ShellEnding ending);

  OwnedSession session_;
  OwnedChannel channel_;
  const ShellLink link_;
  UniqueFd terminal_end_;
  UniqueFd pump_end_;
  UniqueFd wake_;

  // The pumping thread's own state.
  std::array<char, output_chunk> output_{};
  std::size_t output_start_ = 0;
  std::size_t output_end_ = 0;
  bool input_open_ = true;
  short watched_events_ = 0;
  Clock::time_point next_keepalive_{};

  std::mutex mutex_;
  std::condition_variable ended_;
  std::optional<WindowSize> new_size_;
  bool hang_up_ = false;
  std::optional<ShellEnding> ending_;
  std::thread thread_;
};

std::optional<ShellEnding> SshShellBackend::take_requests() {
  std::optional<WindowSize> size;
  {
    std::lock_guard lock(mutex_);
    if (hang_up_) return ShellEnding{std::nullopt, "the terminal was hung up"};
    size = std::exchange(new_size_, std::nullopt);
  }
  if (size) ssh_channel_change_pty_size(channel_.get(), size->columns, size->rows);
  return std::nullopt;
}

std::optional<ShellEnding> SshShellBackend::pass_output() {
  for (;;) {
    if (output_start_ == output_end_) {
      output_start_ = output_end_ = 0;
      // A pty merges the shell's stderr into its output; a server may still send some apart.
      int got = ssh_channel_read_nonblocking(channel_.get(), output_.data(), output_capacity, 0);
      if (got <= 0) {
        got = ssh_channel_read_nonblocking(channel_.get(), output_.data(), output_capacity, 1);
      }
      if (got <= 0) return std::nullopt;
      output_end_ = static_cast<std::size_t>(got);
    }
    const ssize_t sent = ::send(pump_end_.get(), output_.data() + output_start_,
                                output_end_ - output_start_, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return std::nullopt;
      return ShellEnding{std::nullopt, "the terminal's end was closed"};
    }
    output_start_ += static_cast<std::size_t>(sent);
  }
}

void SshShellBackend::pass_input() {
  std::array<char, input_chunk> input;
  while (input_open_) {
    // Never more than the host's window takes: a write beyond it would block this thread
    // until the remote program reads, and with it the shell's output.
    const std::uint32_t window = ssh_channel_window_size(channel_.get());
    if (window == 0) return;
    const ssize_t got =
        ::read(pump_end_.get(), input.data(), std::min<std::size_t>(input.size(), window));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (got <= 0) {
      // The terminal will type no more: the shell sees the end of its input.
      ssh_channel_send_eof(channel_.get());
      input_open_ = false;
      return;
    }
    const int written = ssh_channel_write(channel_.get(), input.data(), static_cast<uint32_t>(got));
    ::explicit_bzero(input.data(), static_cast<std::size_t>(got));
    if (written == SSH_ERROR) return;  // the loop sees the broken session
  }
}

bool SshShellBackend::output_left() const {
  return output_start_ != output_end_ || ssh_channel_is_eof(channel_.get()) == 0;
}

void SshShellBackend::keep_alive(Clock::time_point now) {
  if (now < next_keepalive_) return;
  const auto every =
      std::clamp(link_.dead_link_after / 4, std::chrono::milliseconds(100), keepalive_at_most);
  next_keepalive_ = now + every;
  if (host_quiet_for(ssh_get_fd(session_.get())) < every) return;
  // The first call may only collect the answer to the previous keepalive; the second then
  // sends a new one (or finds it still pending). Either way one is on its way.
  send_keepalive_without_waiting(session_.get());
  send_keepalive_without_waiting(session_.get());
}

ShellEnding SshShellBackend::link_lost(const LinkWatchdog& watchdog) const {
  const std::string cause =
      watchdog.went_silent()
          ? "the host sent nothing for " + seconds_text(link_.dead_link_after)
          : std::string("the connection broke (") + ssh_get_error(session_.get()) + ")";
  return {std::nullopt, "the connection to " + link_.host + " was lost: " + cause};
}

// Polls the terminal's end for what the loop can act on now: room for held output, and input
// while the host's window is open. Watching it for more would wake the loop for ever.
void SshShellBackend::watch_terminal_end(ssh_event event) {
  short wanted = 0;
  if (output_start_ != output_end_) wanted |= POLLOUT;
  if (input_open_ && ssh_channel_window_size(channel_.get()) > 0) wanted |= POLLIN;
  if (wanted == watched_events_) return;
  if (watched_events_ != 0) ssh_event_remove_fd(event, pump_end_.get());
  if (wanted != 0) ssh_event_add_fd(event, pump_end_.get(), wanted, on_descriptor, nullptr);
  watched_events_ = wanted;
}

void SshShellBackend::finish(ShellEnding ending) {
  {
    std::lock_guard lock(mutex_);
    ending_ = std::move(ending);
  }
  ended_.notify_all();
  // The terminal sees the end only once the ending is there to read.
  pump_end_.reset();
}

void SshShellBackend::pump() {
  ChannelNews news;
  ssh_channel_callbacks_struct callbacks{};
  callbacks.userdata = &news;
  callbacks.channel_exit_status_function = on_exit_status;
  callbacks.channel_exit_signal_function = on_exit_signal;
  callbacks.channel_close_function = on_close;
  ssh_callbacks_init(&callbacks);
  // No data callback: the output stays in libssh's buffer until the terminal has room for
  // it, and libssh opens the window only as it is read. (A callback that took less would be
  // offered the rest only when more arrived, which a closed window prevents.)
  ssh_set_channel_callbacks(channel_.get(), &callbacks);

  OwnedEvent event(ssh_event_new());
  if (!event || ssh_event_add_session(event.get(), session_.get()) != SSH_OK) {
    finish({std::nullopt, "cannot poll the SSH session of " + link_.host});
    return;
  }
  ssh_event_add_fd(event.get(), wake_.get(), POLLIN, on_wake, nullptr);
  const auto poll_slice = std::clamp(link_.dead_link_after / 8, std::chrono::milliseconds(50),
                                     std::chrono::milliseconds(1000));

  std::optional<ShellEnding> ending;
  {
    LinkWatchdog watchdog(session_.get(), link_.dead_link_after);
    for (;;) {
      if ((ending = take_requests())) break;
      if ((ending = pass_output())) break;
      pass_input();
      if (news.closed && !output_left()) {
        ending = ending_of(news);
        break;
      }
      if (watchdog.went_silent() || ssh_is_connected(session_.get()) == 0) {
        ending = link_lost(watchdog);
        break;
      }
      keep_alive(Clock::now());
      watch_terminal_end(event.get());
      if (ssh_event_dopoll(event.get(), static_cast<int>(poll_slice.count())) == SSH_ERROR &&
          ssh_is_connected(session_.get()) == 0) {
        // Output already received is still the terminal's, as far as it takes it now.
        pass_output();
        ending = link_lost(watchdog);
        break;
      }
    }
  }
  if (watched_events_ != 0) ssh_event_remove_fd(event.get(), pump_end_.get());
  ssh_event_remove_fd(event.get(), wake_.get());
  ssh_event_remove_session(event.get(), session_.get());
  ssh_remove_channel_callbacks(channel_.get(), &callbacks);
  finish(std::move(*ending));
  // The goodbye may wait on a slow link; the terminal has seen the end already.
  if (ssh_is_connected(session_.get()) != 0) ssh_channel_close(channel_.get());
  channel_.reset();
  session_.reset();
}

}  // namespace

std::expected<std::unique_ptr<TerminalBackend>, ErrorBody> start_ssh_shell_backend(
    OwnedSession session, OwnedChannel channel, ShellLink link) {
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends) != 0) {
    return std::unexpected(ssh_failure(
        ErrorCode::internal, "cannot make the shell's socketpair: " + os_error_text(errno)));
  }
  UniqueFd terminal_end(ends[0]);
  UniqueFd pump_end(ends[1]);
  UniqueFd wake(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  if (!wake) {
    return std::unexpected(ssh_failure(ErrorCode::internal,
                                       "cannot make the shell's eventfd: " + os_error_text(errno)));
  }
  const std::string host = link.host;
  auto backend = std::make_unique<SshShellBackend>(std::move(session), std::move(channel),
                                                   std::move(link), std::move(terminal_end),
                                                   std::move(pump_end), std::move(wake));
  if (!backend->start()) {
    return std::unexpected(
        ssh_failure(ErrorCode::internal, "cannot start the thread of the shell on " + host));
  }
  return backend;
}

}  // namespace pendrel::desktop
