#include "desktop/front/runner/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "desktop/front/runner/command_on_stdin.h"

extern char** environ;

namespace pendrel::desktop {
namespace {

// Owns the spawn attributes and file actions, which must be destroyed on every path.
struct SpawnSetup {
  posix_spawnattr_t attributes{};
  posix_spawn_file_actions_t actions{};
  SpawnSetup() {
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_init(&actions);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
};

std::expected<std::pair<UniqueFd, UniqueFd>, int> make_pipe() {
  int ends[2];
  // Close-on-exec, so that a command started by another thread meanwhile never holds them.
  if (::pipe2(ends, O_CLOEXEC) != 0) return std::unexpected(errno);
  return std::pair{UniqueFd(ends[0]), UniqueFd(ends[1])};
}

// A socket rather than a pipe: its writer can refuse SIGPIPE (MSG_NOSIGNAL) when the shell
// ends before reading it all.
std::expected<std::pair<UniqueFd, UniqueFd>, int> make_command_socket() {
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
    return std::unexpected(errno);
  return std::pair{UniqueFd(ends[0]), UniqueFd(ends[1])};
}

}  // namespace

std::expected<StartedShell, int> start_shell(std::string_view command,
                                             const std::string& home_dir) {
  auto out = make_pipe();
  if (!out) return std::unexpected(out.error());
  auto err = make_pipe();
  if (!err) return std::unexpected(err.error());
  const bool on_stdin = needs_command_on_stdin(command);
  std::pair<UniqueFd, UniqueFd> command_ends;
  if (on_stdin) {
    auto ends = make_command_socket();
    if (!ends) return std::unexpected(ends.error());
    command_ends = std::move(*ends);
  }

  SpawnSetup setup;
  sigset_t all_signals;
  sigset_t no_signals;
  sigfillset(&all_signals);
  sigemptyset(&no_signals);
  posix_spawnattr_setflags(&setup.attributes,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  posix_spawnattr_setpgroup(&setup.attributes, 0);
  posix_spawnattr_setsigmask(&setup.attributes, &no_signals);
  posix_spawnattr_setsigdefault(&setup.attributes, &all_signals);
  if (on_stdin) {
    posix_spawn_file_actions_adddup2(&setup.actions, command_ends.first.get(), 0);
  } else {
    posix_spawn_file_actions_addopen(&setup.actions, 0, "/dev/null", O_RDONLY, 0);
  }
  posix_spawn_file_actions_adddup2(&setup.actions, out->second.get(), 1);
  posix_spawn_file_actions_adddup2(&setup.actions, err->second.get(), 2);
  // The service's sockets, logs and other callers' pipes stay out of the command's reach.
  posix_spawn_file_actions_addclosefrom_np(&setup.actions, 3);
  posix_spawn_file_actions_addchdir_np(&setup.actions, home_dir.c_str());

  std::string command_text(on_stdin ? command_from_stdin : command);
  char shell[] = "/bin/sh";
  char dash_c[] = "-c";
  // Ends the options, so that a command starting with '-' is run, not read as one.
  char end_of_options[] = "--";
  char* argv[] = {shell, dash_c, end_of_options, command_text.data(), nullptr};
  pid_t pid = -1;
  int error = ::posix_spawn(&pid, shell, &setup.actions, &setup.attributes, argv, environ);
  if (error != 0) return std::unexpected(error);
  return StartedShell{pid, std::move(out->first), std::move(err->first),
                      std::move(command_ends.second)};
}

int reap(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return 0;
  }
  return status;
}

void end_process_group(pid_t pid, std::chrono::milliseconds grace) {
  ::kill(-pid, SIGTERM);
  auto deadline = std::chrono::steady_clock::now() + grace;
  while (std::chrono::steady_clock::now() < deadline) {
    siginfo_t info{};
    // WNOWAIT leaves the leader a zombie, keeping its group id taken until the SIGKILL below.
    if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
        info.si_pid == pid) {
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(-pid, SIGKILL);
  (void)reap(pid);
}

int exit_status_of(int wait_status) {
  if (WIFEXITED(wait_status)) return WEXITSTATUS(wait_status);
  if (WIFSIGNALED(wait_status)) return 128 + WTERMSIG(wait_status);
  return 128;
}

}  // namespace pendrel::desktop
