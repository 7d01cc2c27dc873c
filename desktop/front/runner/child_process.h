// Starting /bin/sh -c for a LOCAL host and ending its process group: the parts of running a
// command that talk to the process table.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <expected>
#include <string>
#include <string_view>

#include "protocol/unique_fd.h"

namespace pendrel::desktop {

struct StartedShell {
  pid_t pid = -1;  // also the id of its new process group
  UniqueFd stdout_pipe;
  UniqueFd stderr_pipe;
  // Set for a command too long for one argument: the shell's standard input, a stream socket
  // the caller writes the whole command to and then closes.
  UniqueFd command_socket;
};

// Spawns `/bin/sh -c -- command` as the leader of a new process group, in `home_dir`, with
// standard input on /dev/null, standard output and error on two pipes, no other descriptor,
// the default signal dispositions and an empty signal mask (the service blocks or ignores
// some). A command that needs_command_on_stdin is read by the shell from `command_socket`
// instead, and still runs with standard input on /dev/null. Fails with the errno of the spawn
// (the working directory included).
[[nodiscard]] std::expected<StartedShell, int> start_shell(std::string_view command,
                                                           const std::string& home_dir);

// The wait status of `pid`, reaping it; retried on EINTR.
[[nodiscard]] int reap(pid_t pid);

// Ends the process group of `pid`: SIGTERM, up to `grace` for the leader to exit, then
// SIGKILL to whatever is left of the group, and reaps the leader. The leader is reaped only
// after the SIGKILL, so its group id cannot have been reused by then.
void end_process_group(pid_t pid, std::chrono::milliseconds grace);

// The exit status a caller sees: the exit code, or 128 + the signal that ended the process.
[[nodiscard]] int exit_status_of(int wait_status);

}  // namespace pendrel::desktop
