#include "desktop/shared/link/front_work.h"

#include <chrono>

#include "desktop/shared/link/descriptor_frames.h"
#include "desktop/shared/store/json_object_reader.h"
#include "protocol/channel.h"
#include "protocol/frame_reader.h"
#include "protocol/json_writer.h"

namespace pendrel::desktop {
namespace {

constexpr std::uint32_t max_front_frame_bytes = 64 * 1024;
// LOCAL work ends within its own time limit; this only bounds a front that never reports.
constexpr auto outcome_wait = std::chrono::hours(24);
// Opening or renaming a file is quick; a front that takes longer is gone.
constexpr auto file_wait = std::chrono::seconds(30);
// Writing one audit line is quick; past this the answer goes out regardless.
constexpr auto recorded_wait = std::chrono::seconds(5);

std::string step_frame(std::string_view step) {
  JsonWriter writer;
  writer.begin_object().key("front").string(step).end_object();
  return writer.take();
}

ErrorBody front_failure(std::string detail) {
  return ErrorBody{"internal", std::move(detail)};
}

// {"error":code,"message":…} as the ErrorBody it stands for; nothing when there is no error.
std::optional<ErrorBody> error_in(const ObjectReader& reader) {
  auto code = reader.string("error");
  if (!code || !*code) return std::nullopt;
  auto message = reader.string("message");
  return ErrorBody{**code, message && *message ? **message : std::string()};
}

}  // namespace

std::expected<FrontOutcome, std::string> ask_front_to_run(int socket, const FrontHost& host,
                                                          int abandon_fd) {
  JsonWriter step;
  step.begin_object()
      .key("front")
      .string("runLocal")
      .key("hostId")
      .string(host.id)
      .key("hostName")
      .string(host.name)
      .end_object();
  if (auto sent = write_frame(socket, step.take()); !sent)
    return std::unexpected(sent.error().text());
  auto frame = read_frame(socket, max_front_frame_bytes,
                          FrameWait{std::chrono::steady_clock::now() + outcome_wait, abandon_fd});
  if (!frame) return std::unexpected(frame.error().text());
  ParsedObject parsed;
  if (auto valid = parse_object(frame->view(), parsed); !valid)
    return std::unexpected(valid.error());
  auto reader = ObjectReader::over(parsed.object);
  if (!reader) return std::unexpected(reader.error());
  FrontOutcome outcome;
  auto text = reader->string("outcome");
  if (!text || !*text) return std::unexpected("an outcome without \"outcome\"");
  outcome.outcome = **text;
  if (auto bytes = reader->unsigned_integer("bytes"); bytes && *bytes) outcome.bytes = **bytes;
  if (auto code = reader->unsigned_integer("exitCode"); code && *code)
    outcome.exit_code = static_cast<std::int32_t>(**code);
  if (auto local = reader->string("local"); local && *local) outcome.local = **local;
  if (auto remote = reader->string("remote"); remote && *remote) outcome.remote = **remote;
  if (auto terminal = reader->string("terminal"); terminal && *terminal)
    outcome.terminal = **terminal;
  return outcome;
}

std::expected<FrontFile, ErrorBody> ask_front_for_file(int socket, int abandon_fd) {
  (void)abandon_fd;
  if (auto sent = write_frame(socket, step_frame("openFile")); !sent)
    return std::unexpected(front_failure("the front is gone: " + sent.error().text()));
  auto frame = read_frame_with_descriptors(socket, max_front_frame_bytes,
                                           std::chrono::steady_clock::now() + file_wait);
  if (!frame)
    return std::unexpected(front_failure("the front did not open the file: " + frame.error()));
  ParsedObject parsed;
  if (auto valid = parse_object(frame->payload.view(), parsed); !valid)
    return std::unexpected(front_failure(valid.error()));
  auto reader = ObjectReader::over(parsed.object);
  if (!reader) return std::unexpected(front_failure(reader.error()));
  if (auto error = error_in(*reader)) return std::unexpected(std::move(*error));
  auto local = reader->string("local");
  if (!local || !*local || frame->descriptors.size() != 1)
    return std::unexpected(front_failure("the front sent no file"));
  return FrontFile{std::move(frame->descriptors.front()), **local};
}

std::expected<void, ErrorBody> ask_front_to_install(int socket, mode_t mode, int abandon_fd) {
  JsonWriter writer;
  writer.begin_object()
      .key("front")
      .string("install")
      .key("mode")
      .unsigned_integer(mode)
      .end_object();
  if (auto sent = write_frame(socket, writer.take()); !sent)
    return std::unexpected(front_failure("the front is gone: " + sent.error().text()));
  auto frame = read_frame(socket, max_front_frame_bytes,
                          FrameWait{std::chrono::steady_clock::now() + file_wait, abandon_fd});
  if (!frame)
    return std::unexpected(
        front_failure("the front did not install the file: " + frame.error().text()));
  ParsedObject parsed;
  if (auto valid = parse_object(frame->view(), parsed); !valid)
    return std::unexpected(front_failure(valid.error()));
  auto reader = ObjectReader::over(parsed.object);
  if (!reader) return std::unexpected(front_failure(reader.error()));
  if (auto error = error_in(*reader)) return std::unexpected(std::move(*error));
  return {};
}

std::optional<FrontStep> front_step(std::string_view payload) {
  if (!payload.starts_with(R"({"front":)")) return std::nullopt;
  ParsedObject parsed;
  if (!parse_object(payload, parsed)) return std::nullopt;
  auto reader = ObjectReader::over(parsed.object);
  if (!reader) return std::nullopt;
  auto step = reader->string("front");
  if (!step || !*step) return std::nullopt;
  if (**step == "runLocal") {
    FrontStep run{FrontStep::Kind::run_local, 0, {}};
    if (auto id = reader->string("hostId"); id && *id) run.host.id = **id;
    if (auto name = reader->string("hostName"); name && *name) run.host.name = **name;
    return run;
  }
  if (**step == "openFile") return FrontStep{FrontStep::Kind::open_file, 0, {}};
  if (**step == "install") {
    auto mode = reader->unsigned_integer("mode");
    return FrontStep{
        FrontStep::Kind::install, static_cast<mode_t>(mode && *mode ? **mode & 0777 : 0644), {}};
  }
  return std::nullopt;
}

bool report_front_outcome(int socket, const FrontOutcome& outcome) {
  JsonWriter writer;
  writer.begin_object().key("outcome").string(outcome.outcome);
  if (outcome.exit_code)
    writer.key("exitCode").unsigned_integer(static_cast<std::uint32_t>(*outcome.exit_code));
  if (outcome.bytes) writer.key("bytes").unsigned_integer(*outcome.bytes);
  if (!outcome.local.empty()) writer.key("local").string(outcome.local);
  if (!outcome.remote.empty()) writer.key("remote").string(outcome.remote);
  if (!outcome.terminal.empty()) writer.key("terminal").string(outcome.terminal);
  writer.end_object();
  return write_frame(socket, writer.take()).has_value();
}

bool confirm_outcome_recorded(int socket) {
  return write_frame(socket, step_frame("recorded")).has_value();
}

void await_outcome_recorded(int socket) {
  // Only the confirmation can come; a service that sends nothing costs this much and no more.
  (void)read_frame(socket, max_front_frame_bytes,
                   FrameWait{std::chrono::steady_clock::now() + recorded_wait, -1});
}

bool send_front_file(int socket, int fd, const std::string& local) {
  JsonWriter writer;
  writer.begin_object().key("local").string(local).end_object();
  int descriptors[] = {fd};
  return write_frame_with_descriptors(socket, writer.take(), descriptors).has_value();
}

bool send_front_result(int socket, const std::expected<void, ErrorBody>& result) {
  JsonWriter writer;
  writer.begin_object();
  if (result) {
    writer.key("installed").boolean(true);
  } else {
    writer.key("error").string(result.error().code).key("message").string(result.error().message);
  }
  writer.end_object();
  return write_frame(socket, writer.take()).has_value();
}

}  // namespace pendrel::desktop
