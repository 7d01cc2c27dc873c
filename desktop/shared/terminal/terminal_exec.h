// `exec --terminal`: an agent's command typed into the person's open terminal of a host, where
// the person sees it run, and its output and exit status read back from the terminal.
#pragma once

#include <expected>
#include <string>
#include <string_view>

#include "desktop/shared/terminal/terminal_registry.h"
#include "protocol/messages.h"

namespace pendrel::desktop {

struct TerminalExecOutcome {
  std::expected<ExecResponse, ErrorBody> result;
  std::string terminal_id;  // the terminal typed into; empty when none was
};

// What stops a command in a terminal early: the caller's connection, which hangs up when
// pendrel is killed, and the service's stop.
struct TerminalExecWatch {
  int caller_socket = -1;
  int abandon_fd = -1;
};

// Runs `command` (already allowed by the rules) in the most recently opened terminal of
// `host_id` that a person has attached, once the terminal shows that its shell waits at the
// prompt (busy_check.h); one agent command per terminal at a time. The answer: the exit code,
// stdout the output between the marks (captured_output.h), stderr empty (merged), the duration
// from the typing to the end mark. Fails with
//   bad_request        the command holds a NUL byte, which no shell argument carries;
//   terminal_not_open  no terminal of the host is open, or none has a person attached;
//   terminal_busy      another agent command runs in it, or its shell is not at its prompt;
//   connect_failed     the terminal closed while the command ran;
//   canceled           the caller went away (Ctrl-C is typed once) or the service stops.
// The person pressing Ctrl-C is an answer: what was captured, exit code 130.
[[nodiscard]] TerminalExecOutcome exec_in_terminal(TerminalRegistry& terminals,
                                                   std::string_view host_id,
                                                   std::string_view host_name,
                                                   std::string_view command,
                                                   TerminalExecWatch watch);

}  // namespace pendrel::desktop
