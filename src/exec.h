// pendrel exec: one shell command on one host, from an argument or from standard input.
#pragma once

#include <cstddef>
#include <expected>
#include <string>

#include "app/command.h"
#include "protocol/messages.h"

namespace pendrel {

// The most standard input `--stdin` accepts; the messages call it "1MB".
inline constexpr std::size_t max_stdin_bytes = 1048576;
// The number shown in the truncation notice; the desktop application applies its own limit.
inline constexpr std::size_t truncation_notice_bytes = 1048576;

struct ExecArgs {
  std::string host;
  std::string command;
  TerminalMode terminal = TerminalMode::off;
};

// `--terminal` may stand first or second; then exactly host and command (or `--stdin`, which
// reads `stdin_fd` to its end, at most max_stdin_bytes, as UTF-8 without a leading byte-order
// mark) must remain. A command that is only Unicode white space is refused; the command kept
// is unchanged. The error is the message in the chosen language (usage, empty command, stdin
// too large, not UTF-8, or unreadable with the system's error text).
[[nodiscard]] std::expected<ExecArgs, std::string> parse_exec_arguments(Arguments rest,
                                                                        int stdin_fd,
                                                                        Language language);

// Returns the remote command's exit code, or the exit code of the reported failure.
int run_exec(const Invocation& invocation, Arguments rest);

}  // namespace pendrel
