// pendrel exec: one shell command on one host, from an argument or from standard input.
#pragma once

#include <expected>
#include <string>

#include "app/command.h"
#include "protocol/messages.h"

namespace pendrel {

struct ExecArgs {
  std::string host;
  std::string command;
  TerminalMode terminal = TerminalMode::off;
};

// `--terminal` may stand first or second; then exactly host and command (or `--stdin`, which
// reads standard input) must remain. The error is the usage message in the chosen language.
[[nodiscard]] std::expected<ExecArgs, std::string> parse_exec_arguments(Arguments rest,
                                                                        int stdin_fd,
                                                                        Language language);

int run_exec(const Invocation& invocation, Arguments rest);

}  // namespace pendrel
