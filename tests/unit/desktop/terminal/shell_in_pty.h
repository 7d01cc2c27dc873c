// An interactive shell started on a pseudo-terminal of the test's, as a person's terminal holds
// one: no rc files, no history written to the tester's home, a prompt of our own and an
// exported variable for the commands typed into it to inherit.
#pragma once

#include <fcntl.h>
#include <pty.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace pendrel::desktop {

struct ShellStarted {
  pid_t pid = -1;
  int master = -1;  // non-blocking; -1 when the pty could not be made
};

inline ShellStarted start_shell_in_pty(const std::vector<std::string>& argv,
                                       const std::string& directory) {
  ShellStarted started;
  winsize size{24, 80, 0, 0};
  started.pid = ::forkpty(&started.master, nullptr, nullptr, &size);
  if (started.pid == 0) {
    if (::chdir(directory.c_str()) != 0) ::_exit(126);
    ::setenv("PS1", "pd$ ", 1);
    ::setenv("HISTFILE", "/dev/null", 1);
    ::setenv("TERM", "xterm", 1);
    ::setenv("INPUTRC", "/dev/null", 1);
    ::setenv("KEPT", "inherited", 1);
    ::unsetenv("ENV");
    std::vector<char*> args;
    for (const auto& arg : argv)
      args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  if (started.master >= 0)
    ::fcntl(started.master, F_SETFL, ::fcntl(started.master, F_GETFL) | O_NONBLOCK);
  return started;
}

}  // namespace pendrel::desktop
