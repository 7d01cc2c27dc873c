#include "desktop/front/runner/local_exec.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <vector>

#include "desktop/front/runner/child_process.h"
#include "protocol/capped_text.h"
#include "protocol/os_error.h"

namespace pendrel::desktop {
namespace {

// How long a canceled command gets to end on SIGTERM before the group is killed.
constexpr std::chrono::milliseconds cancel_grace{2000};

std::uint64_t milliseconds_since(std::chrono::steady_clock::time_point start) {
  auto elapsed = std::chrono::steady_clock::now() - start;
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

enum class DrainEnd { finished, canceled };

// Sends the next part of a long command through the shell's standard input, without waiting;
// closes the socket once it is all sent, or when the shell stopped reading (it ended, or
// read no further: either way the outcome is the shell's to tell).
void send_command_part(UniqueFd& socket, std::string_view& unsent) {
  ssize_t sent = ::send(socket.get(), unsent.data(), unsent.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  if (sent < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) return;
  if (sent > 0) unsent.remove_prefix(static_cast<std::size_t>(sent));
  if (sent < 0 || unsent.empty()) socket.reset();
}

// Reads both pipes until both are at end of file, each into its capture, watching the
// cancel descriptors alongside, and meanwhile sends `command` to a shell that reads it from
// its standard input. Reading both at once is what keeps a command that fills one pipe from
// blocking while the other is waited on.
DrainEnd drain(StartedShell& shell, std::string_view command, OutputCapture& out,
               OutputCapture& err, const CancelWatch& cancel) {
  UniqueFd* pipes[] = {&shell.stdout_pipe, &shell.stderr_pipe};
  OutputCapture* captures[] = {&out, &err};
  std::string_view unsent = shell.command_socket ? command : std::string_view{};
  std::vector<pollfd> watched;
  char buffer[65536];
  while (shell.stdout_pipe || shell.stderr_pipe) {
    watched.clear();
    for (auto* pipe : pipes)
      watched.push_back(pollfd{pipe->valid() ? pipe->get() : -1, POLLIN, 0});
    const int command_fd = shell.command_socket.valid() ? shell.command_socket.get() : -1;
    watched.push_back(pollfd{command_fd, POLLOUT, 0});
    for (int fd : cancel.fds) {
      watched.push_back(pollfd{fd, static_cast<short>(POLLIN | POLLRDHUP), 0});
    }
    if (::poll(watched.data(), watched.size(), -1) < 0) {
      if (errno == EINTR) continue;
      return DrainEnd::canceled;  // cannot watch any more: end the command rather than hang
    }
    for (std::size_t i = 3; i < watched.size(); ++i) {
      if (watched[i].revents != 0) return DrainEnd::canceled;
    }
    if (watched[2].revents != 0) send_command_part(shell.command_socket, unsent);
    for (std::size_t i = 0; i < 2; ++i) {
      if (watched[i].revents == 0) continue;
      ssize_t got = ::read(pipes[i]->get(), buffer, sizeof buffer);
      if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (got <= 0) {
        pipes[i]->reset();
        continue;
      }
      captures[i]->append(std::string_view(buffer, static_cast<std::size_t>(got)));
    }
  }
  return DrainEnd::finished;
}

// Waits for the shell to exit while watching the cancel descriptors: a command may close its
// output and keep running. Without a process descriptor (an old kernel) the wait is plain.
DrainEnd wait_for_exit(pid_t pid, const CancelWatch& cancel) {
  UniqueFd process(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
  if (!process) return DrainEnd::finished;
  std::vector<pollfd> watched{pollfd{process.get(), POLLIN, 0}};
  for (int fd : cancel.fds)
    watched.push_back(pollfd{fd, static_cast<short>(POLLIN | POLLRDHUP), 0});
  while (true) {
    if (::poll(watched.data(), watched.size(), -1) < 0) {
      if (errno == EINTR) continue;
      return DrainEnd::finished;
    }
    if (watched[0].revents != 0) return DrainEnd::finished;
    return DrainEnd::canceled;
  }
}

}  // namespace

std::expected<ExecResponse, ErrorBody> run_local_command(std::string_view command,
                                                         const std::string& home_dir,
                                                         const CancelWatch& cancel) {
  auto start = std::chrono::steady_clock::now();
  auto shell = start_shell(command, home_dir);
  if (!shell) {
    return std::unexpected(ErrorBody{
        "internal", "cannot start /bin/sh in " + home_dir + ": " + os_error_text(shell.error())});
  }
  OutputCapture out(max_stream_bytes);
  OutputCapture err(max_stream_bytes);
  if (drain(*shell, command, out, err, cancel) == DrainEnd::canceled ||
      wait_for_exit(shell->pid, cancel) == DrainEnd::canceled) {
    shell->stdout_pipe.reset();
    shell->stderr_pipe.reset();
    shell->command_socket.reset();
    end_process_group(shell->pid, cancel_grace);
    return std::unexpected(ErrorBody{"canceled", "the command was ended before it finished"});
  }
  int status = reap(shell->pid);
  CappedText stdout_text = out.finish();
  CappedText stderr_text = err.finish();
  return ExecResponse{exit_status_of(status), std::move(stdout_text.text),
                      std::move(stderr_text.text), stdout_text.truncated || stderr_text.truncated,
                      milliseconds_since(start)};
}

}  // namespace pendrel::desktop
