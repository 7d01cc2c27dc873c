#include "transfer.h"

#include "i18n/catalogue.h"
#include "output/report.h"

namespace pendrel {

std::expected<TransferArgs, std::string> parse_transfer_arguments(Direction direction,
                                                                  Arguments rest,
                                                                  Language language) {
  const MessagePair& usage =
      direction == Direction::upload ? messages::usage_upload : messages::usage_download;
  if (rest.size() != 3) return std::unexpected(std::string(usage.in(language)));
  TransferArgs parsed;
  parsed.direction = direction;
  parsed.host = rest[0];
  parsed.local = direction == Direction::upload ? rest[1] : rest[2];
  parsed.remote = direction == Direction::upload ? rest[2] : rest[1];
  return parsed;
}

int run_transfer(const Invocation& invocation, Direction direction, Arguments rest) {
  auto parsed = parse_transfer_arguments(direction, rest, invocation.output.lang);
  if (!parsed) return report_usage(invocation.output, parsed.error());
  return report_error(invocation.output, 5, "internal", "not built yet");
}

}  // namespace pendrel
