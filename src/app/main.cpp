// The entry point: prepare the process, decide the output mode and language, dispatch, exit.
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/dispatch.h"
#include "protocol/standard_descriptors.h"
#include "protocol/utf8.h"

int main(int argc, char** argv) {
  pendrel::reopen_closed_standard_descriptors();
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
