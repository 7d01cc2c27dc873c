// The entry point: prepare the process, decide the output mode and language, dispatch, exit.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/dispatch.h"
#include "protocol/utf8.h"

namespace {

// A closed standard descriptor would be reused by the next open() and receive our output
// or be read as input; park each one on /dev/null instead.
void reopen_closed_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1) continue;
    int null_fd = ::open("/dev/null", O_RDWR);
    if (null_fd >= 0 && null_fd != fd) {
      ::dup2(null_fd, fd);
      ::close(null_fd);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  reopen_closed_standard_descriptors();
  ::signal(SIGPIPE, SIG_IGN);

  std::vector<std::string> arguments;
  arguments.reserve(static_cast<std::size_t>(argc));
  for (int i = 1; i < argc; ++i)
    arguments.push_back(pendrel::to_display_text(argv[i]));

  const bool json = ::isatty(STDOUT_FILENO) == 0;
  pendrel::LineBufferedSink out(STDOUT_FILENO);
  pendrel::UnbufferedSink err(STDERR_FILENO);
  const auto environment = pendrel::Environment::from_process();
  pendrel::Output output{out, err, json, pendrel::choose_language(environment)};

  int exit_code = pendrel::dispatch({output, environment, STDIN_FILENO}, arguments);
  out.flush();
  std::exit(exit_code);
}
