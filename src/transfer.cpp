#include "transfer.h"

#include "app/connect.h"
#include "caller/caller.h"
#include "client/upload_source.h"
#include "i18n/catalogue.h"
#include "output/report.h"
#include "output/transfer_text.h"
#include "protocol/json_writer.h"
#include "protocol/lexical_path.h"
#include "protocol/os_error.h"
#include "protocol/utf8.h"

namespace pendrel {
namespace {

std::string transfer_json(const TransferResponse& result) {
  JsonWriter json;
  json.begin_object()
      .key("local")
      .string(result.local)
      .key("remote")
      .string(result.remote)
      .key("bytes")
      .unsigned_integer(result.bytes)
      .key("durationMs")
      .unsigned_integer(result.duration_ms)
      .end_object();
  return json.take_line();
}

// Only the far end's path is shown: the near one is the user's own.
std::string transfer_line(Direction direction, const TransferResponse& result, Language language) {
  const bool upload = direction == Direction::upload;
  std::string line = format_message(upload ? messages::uploaded : messages::downloaded, language,
                                    size_text(result.bytes), upload ? result.remote : result.local,
                                    duration_text(result.duration_ms, language));
  line += '\n';
  return line;
}

Request transfer_request(TransferArgs&& args) {
  TransferRequest fields{std::move(args.host), std::move(args.local), std::move(args.remote),
                         current_caller_list()};
  if (args.direction == Direction::upload) return UploadRequest{std::move(fields)};
  return DownloadRequest{std::move(fields)};
}

}  // namespace

std::expected<TransferArgs, std::string> parse_transfer_arguments(Direction direction,
                                                                  Arguments rest,
                                                                  Language language) {
  const MessagePair& usage =
      direction == Direction::upload ? messages::usage_upload : messages::usage_download;
  if (rest.size() != 3) return std::unexpected(std::string(usage.in(language)));
  const std::string& host = rest[0];
  const std::string& local = direction == Direction::upload ? rest[1] : rest[2];
  const std::string& remote = direction == Direction::upload ? rest[2] : rest[1];
  if (host.empty() || local.empty() || remote.empty()) {
    return std::unexpected(std::string(messages::path_empty.in(language)));
  }
  auto absolute = make_absolute(local);
  if (!absolute) {
    return std::unexpected(format_message(messages::local_path_unresolvable, language, local,
                                          os_error_text(absolute.error())));
  }
  return TransferArgs{direction, host, to_display_text(*absolute), remote};
}

int check_upload_source(Output& output, const std::string& local) {
  if (auto failure = examine_upload_source(local, output.lang)) {
    return report_failure(output, *failure);
  }
  return 0;
}

int run_transfer(const Invocation& invocation, Direction direction, Arguments rest) {
  Output& output = invocation.output;
  auto parsed = parse_transfer_arguments(direction, rest, output.lang);
  if (!parsed) return report_usage(output, parsed.error());
  if (direction == Direction::upload) {
    if (int failed = check_upload_source(output, parsed->local); failed != 0) return failed;
  }

  auto result = request_answer<TransferResponse>(invocation, transfer_request(std::move(*parsed)));
  if (!result) return result.error();

  if (output.json) {
    output.out.write(transfer_json(*result));
  } else {
    output.out.write(transfer_line(direction, *result, output.lang));
  }
  return 0;
}

}  // namespace pendrel
