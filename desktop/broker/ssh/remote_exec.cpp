#include "desktop/broker/ssh/remote_exec.h"

#include <libssh/callbacks.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <utility>

#include "desktop/broker/ssh/libssh_handles.h"
#include "desktop/broker/ssh/link_watch.h"
#include "desktop/broker/ssh/request_stop.h"
#include "desktop/broker/ssh/signal_names.h"
#include "desktop/broker/ssh/ssh_connection.h"
#include "desktop/broker/ssh/ssh_error.h"
#include "desktop/front/runner/command_on_stdin.h"
#include "protocol/capped_text.h"

namespace pendrel::desktop {
namespace {

using Clock = std::chrono::steady_clock;

// How long each signal gets to end the command before the next step.
constexpr std::chrono::seconds signal_grace{2};
// The event loop wakes at least this often to look at the clock.
constexpr std::chrono::milliseconds poll_slice{200};
// A long command is sent in parts no larger, so the loop keeps watching for a cancel.
constexpr std::size_t command_part_bytes = 65536;

struct ChannelState {
  OutputCapture out{remote_stream_limit};
  OutputCapture err{remote_stream_limit};
  std::optional<int> exit_status;
  std::optional<int> exit_signal;
  bool closed = false;
  bool caller_gone = false;
};

int on_data(ssh_session, ssh_channel, void* data, uint32_t length, int is_stderr, void* userdata) {
  auto& state = *static_cast<ChannelState*>(userdata);
  std::string_view bytes(static_cast<const char*>(data), length);
  (is_stderr != 0 ? state.err : state.out).append(bytes);
  // Everything is consumed, also past the limit, so the window keeps opening and the remote
  // command never blocks on a full pipe.
  return static_cast<int>(length);
}

void on_exit_status(ssh_session, ssh_channel, int status, void* userdata) {
  static_cast<ChannelState*>(userdata)->exit_status = status;
}

void on_exit_signal(ssh_session, ssh_channel, const char* signal, int, const char*, const char*,
                    void* userdata) {
  static_cast<ChannelState*>(userdata)->exit_signal = signal_number(signal ? signal : "");
}

void on_close(ssh_session, ssh_channel, void* userdata) {
  static_cast<ChannelState*>(userdata)->closed = true;
}

// Sends as much of a long command as the host's window takes, and the end of the channel's
// input once all of it is sent, so that the shell's `cat` ends. Never blocks on the window: the
// event loop would stop reading the command's output meanwhile. A failed write shows in the
// loop as the broken session.
void send_command_part(ssh_channel channel, std::string_view& unsent) {
  const std::size_t window = ssh_channel_window_size(channel);
  const std::size_t part = std::min({unsent.size(), window, command_part_bytes});
  if (part > 0) {
    const int written = ssh_channel_write(channel, unsent.data(), static_cast<std::uint32_t>(part));
    if (written == SSH_ERROR) return;
    unsent.remove_prefix(static_cast<std::size_t>(written));
  }
  if (unsent.empty()) ssh_channel_send_eof(channel);
}

int on_cancel_fd(socket_t, int, void* userdata) {
  static_cast<ChannelState*>(userdata)->caller_gone = true;
  return 0;
}

ErrorBody connection_lost(ssh_session session) {
  return ssh_failure(ErrorCode::connect_failed,
                     std::string("the connection broke while the command ran: ") +
                         ssh_get_error(session) + "; the command's outcome is unknown");
}

std::expected<ExecResponse, ErrorBody> run_command(ssh_session session, OwnedChannel channel,
                                                   std::string_view command,
                                                   const CancelWatch& cancel, RequestStop& stop,
                                                   Clock::time_point started,
                                                   std::chrono::milliseconds dead_link_after) {
  ChannelState state;
  ssh_channel_callbacks_struct callbacks{};
  callbacks.userdata = &state;
  callbacks.channel_data_function = on_data;
  callbacks.channel_exit_status_function = on_exit_status;
  callbacks.channel_exit_signal_function = on_exit_signal;
  callbacks.channel_close_function = on_close;
  ssh_callbacks_init(&callbacks);
  if (ssh_set_channel_callbacks(channel.get(), &callbacks) != SSH_OK) {
    return std::unexpected(ssh_failure(ErrorCode::internal, "cannot watch the SSH channel"));
  }
  // The server's shell gets the command as one argument, which the server's kernel limits as
  // ours does; a longer one goes through the channel's input, as to a LOCAL shell.
  const bool on_stdin = needs_command_on_stdin(command);
  const std::string command_text(on_stdin ? command_from_stdin : command);
  std::string_view unsent = on_stdin ? command : std::string_view{};
  bool input_ended = !on_stdin;
  if (ssh_channel_request_exec(channel.get(), command_text.c_str()) != SSH_OK) {
    return std::unexpected(ssh_failure(
        ErrorCode::connect_failed,
        std::string("the server refused to run the command: ") + ssh_get_error(session)));
  }

  OwnedEvent event(ssh_event_new());
  if (!event || ssh_event_add_session(event.get(), session) != SSH_OK) {
    return std::unexpected(ssh_failure(ErrorCode::internal, "cannot poll the SSH session"));
  }
  bool watching_cancel = true;
  for (int fd : cancel.fds) {
    ssh_event_add_fd(event.get(), fd, POLLIN | POLLRDHUP, on_cancel_fd, &state);
  }

  LinkWatchdog watchdog(session, dead_link_after);
  StopReason reason = StopReason::none;
  const char* next_signal = "TERM";
  Clock::time_point signal_sent;
  while (!state.closed) {
    if (!input_ended && reason == StopReason::none) {
      send_command_part(channel.get(), unsent);
      input_ended = unsent.empty();
    }
    auto wait = stop.wait_at_most(poll_slice);
    // More of the command may go at once: only look at what arrived.
    if (!input_ended && ssh_channel_window_size(channel.get()) > 0) wait = {};
    if (ssh_event_dopoll(event.get(), static_cast<int>(wait.count())) == SSH_ERROR &&
        !ssh_is_connected(session)) {
      break;
    }
    if (state.closed) break;
    if (watchdog.went_silent()) {
      return std::unexpected(link_lost(session, dead_link_after, true, "the remote command"));
    }
    if (!ssh_is_connected(session)) return std::unexpected(connection_lost(session));
    // A command that prints nothing for long is normal; a host that answers nothing is not.
    keep_link_talking(session, dead_link_after);
    if (state.caller_gone) stop.note_caller_gone();
    if (state.caller_gone && watching_cancel) {
      // A hung-up descriptor stays ready; watching it further would spin the loop.
      for (int fd : cancel.fds)
        ssh_event_remove_fd(event.get(), fd);
      watching_cancel = false;
    }
    if (reason == StopReason::none) reason = stop.check();
    if (reason == StopReason::none) continue;
    if (next_signal == nullptr) {
      if (Clock::now() - signal_sent >= signal_grace) break;  // close it regardless
    } else if (signal_sent == Clock::time_point{} || Clock::now() - signal_sent >= signal_grace) {
      ssh_channel_request_send_signal(channel.get(), next_signal);
      signal_sent = Clock::now();
      next_signal = std::string_view(next_signal) == "TERM" ? "KILL" : nullptr;
    }
  }
  if (watching_cancel) {
    for (int fd : cancel.fds)
      ssh_event_remove_fd(event.get(), fd);
  }
  ssh_event_remove_session(event.get(), session);
  ssh_remove_channel_callbacks(channel.get(), &callbacks);
  ssh_channel_close(channel.get());

  if (reason != StopReason::none)
    return std::unexpected(stop.failure(reason, "the remote command"));
  if (!state.closed) {
    return std::unexpected(watchdog.went_silent()
                               ? link_lost(session, dead_link_after, true, "the remote command")
                               : connection_lost(session));
  }
  ExecResponse response;
  response.exit_code = state.exit_signal ? (*state.exit_signal < 0 ? -1 : 128 + *state.exit_signal)
                       : state.exit_status ? *state.exit_status
                                           : -1;
  CappedText out = state.out.finish();
  CappedText err = state.err.finish();
  response.stdout_text = std::move(out.text);
  response.stderr_text = std::move(err.text);
  response.truncated = out.truncated || err.truncated;
  response.duration_ms = static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count());
  return response;
}

}  // namespace

std::expected<ExecResponse, ErrorBody> ssh_exec(const SshTarget& target,
                                                const SshCredentials& credentials,
                                                const TrustedHostKeys& keys,
                                                std::string_view command, const CancelWatch& cancel,
                                                const ConnectionSource& source) {
  const Clock::time_point started = Clock::now();
  RequestStop stop(cancel, target.max_duration, started);
  if (auto reason = stop.check(); reason != StopReason::none) {
    return std::unexpected(stop.failure(reason, "the remote command"));
  }
  auto lease = take_session(source, target, credentials, keys);
  if (!lease) return std::unexpected(lease.error());
  OwnedChannel channel = open_session_channel(lease->get());
  if (!channel && lease->reused()) {
    // A kept connection the host has ended meanwhile: nothing ran, so a new one may try.
    lease = take_session(source, target, credentials, keys, WarmConnections::Pick::fresh);
    if (!lease) return std::unexpected(lease.error());
    channel = open_session_channel(lease->get());
  }
  if (!channel) return std::unexpected(connection_lost(lease->get()));
  // The caller may have left while the login ran; then nothing is started.
  if (auto reason = stop.check(); reason != StopReason::none) {
    return std::unexpected(stop.failure(reason, "the remote command"));
  }
  auto result = run_command(lease->get(), std::move(channel), command, cancel, stop, started,
                            target.dead_link_after);
  if (result) lease->keep_warm();
  return result;
}

}  // namespace pendrel::desktop
