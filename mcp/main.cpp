// pendrel-mcp: the Model Context Protocol on standard input and output, one JSON-RPC message
// per line; the tools ask the desktop application exactly as pendrel does.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "i18n/language.h"
#include "mcp/calls.h"
#include "mcp/json_rpc.h"
#include "mcp/line_reader.h"
#include "mcp/line_writer.h"
#include "mcp/output_bound.h"
#include "mcp/server.h"
#include "protocol/environment.h"
#include "protocol/standard_descriptors.h"

namespace {

// How long calls get to end once the client has gone: their sockets are already shut, so
// only one still starting the desktop application can take longer, and it is not waited for.
constexpr std::chrono::milliseconds exit_grace{2000};

}  // namespace

int main() {
  pendrel::reopen_closed_standard_descriptors();
  ::signal(SIGPIPE, SIG_IGN);

  const auto environment = pendrel::Environment::from_process();
  const pendrel::mcp::CallSettings settings{environment, pendrel::choose_language(environment),
                                            pendrel::mcp::output_bound_from(environment)};
  pendrel::mcp::LineWriter out(STDOUT_FILENO);
  pendrel::mcp::RunningCalls calls(settings, out);
  pendrel::mcp::Server server(settings, out, calls);

  pendrel::mcp::LineReader input(STDIN_FILENO);
  while (auto line = input.next()) {
    if (line->too_long) {
      out.write(pendrel::mcp::error_line(std::nullopt, pendrel::mcp::RpcError::parse_error,
                                         "the line is too long"));
      continue;
    }
    if (line->text.find_first_not_of(" \t") == std::string::npos) continue;
    server.handle_line(line->text);
  }
  // The client has gone: end every call without a word, then leave at once, whether or not a
  // straggler's thread has finished.
  (void)calls.cancel_all_and_wait(exit_grace);
  std::_Exit(0);
}
