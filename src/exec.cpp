#include "exec.h"

#include <vector>

#include "i18n/catalogue.h"
#include "output/report.h"

namespace pendrel {

std::expected<ExecArgs, std::string> parse_exec_arguments(Arguments rest, int /*stdin_fd*/,
                                                          Language language) {
  std::vector<std::string> remaining(rest.begin(), rest.end());
  ExecArgs parsed;
  if (!remaining.empty() && remaining[0] == "--terminal") {
    parsed.terminal = TerminalMode::on;
    remaining.erase(remaining.begin());
  } else if (remaining.size() >= 2 && remaining[1] == "--terminal") {
    parsed.terminal = TerminalMode::on;
    remaining.erase(remaining.begin() + 1);
  }
  if (remaining.size() != 2) return std::unexpected(std::string(messages::usage_exec.in(language)));
  parsed.host = std::move(remaining[0]);
  parsed.command = std::move(remaining[1]);
  return parsed;
}

int run_exec(const Invocation& invocation, Arguments rest) {
  auto parsed = parse_exec_arguments(rest, invocation.stdin_fd, invocation.output.lang);
  if (!parsed) return report_usage(invocation.output, parsed.error());
  return report_error(invocation.output, 5, "internal", "not built yet");
}

}  // namespace pendrel
