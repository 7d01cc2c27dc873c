#include "ls.h"

#include "i18n/catalogue.h"
#include "output/report.h"

namespace pendrel {

std::expected<std::string, std::string> parse_ls_arguments(Arguments rest, Language language) {
  if (rest.empty()) return std::string();
  if (rest.size() == 2 && rest[0] == "-q") return rest[1];
  return std::unexpected(std::string(messages::usage_ls.in(language)));
}

int run_ls(const Invocation& invocation, Arguments rest) {
  auto query = parse_ls_arguments(rest, invocation.output.lang);
  if (!query) return report_usage(invocation.output, query.error());
  return report_error(invocation.output, 5, "internal", "not built yet");
}

}  // namespace pendrel
