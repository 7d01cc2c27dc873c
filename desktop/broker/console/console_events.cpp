#include "desktop/broker/console/console_events.h"

#include <sodium.h>

#include "desktop/shared/store/json_object_reader.h"
#include "protocol/json_writer.h"

namespace pendrel::desktop {
namespace {

using Failure = std::unexpected<std::string>;

std::string text_of(const ObjectReader& reader, std::string_view key) {
  auto value = reader.string(key);
  return value && *value ? **value : std::string();
}

std::uint64_t number_of(const ObjectReader& reader, std::string_view key) {
  auto value = reader.unsigned_integer(key);
  return value && *value ? **value : 0;
}

std::vector<std::string> texts_of(const ObjectReader& reader, std::string_view key) {
  std::vector<std::string> texts;
  auto array = reader.array(key);
  if (!array || !*array) return texts;
  for (auto element : **array) {
    std::string_view text;
    if (element.get_string().get(text) == simdjson::SUCCESS) texts.emplace_back(text);
  }
  return texts;
}

std::expected<ConsoleEvent, std::string> decode_request(simdjson::dom::object object) {
  simdjson::dom::object entry_object;
  if (object["entry"].get_object().get(entry_object)) return Failure("a request without its entry");
  auto entry = ObjectReader::over(entry_object);
  if (!entry) return Failure(entry.error());
  RequestFeed feed;
  feed.time = text_of(*entry, "time");
  std::int64_t pid = 0;
  if (entry_object["pid"].get_int64().get(pid) == simdjson::SUCCESS) feed.pid = pid;
  feed.callers = texts_of(*entry, "caller");
  feed.kind = text_of(*entry, "kind");
  feed.host = text_of(*entry, "hostName");
  if (feed.host.empty()) feed.host = text_of(*entry, "hostId");
  feed.command = text_of(*entry, "command");
  feed.local = text_of(*entry, "local");
  feed.remote = text_of(*entry, "remote");
  feed.terminal = text_of(*entry, "terminal");
  feed.reason = text_of(*entry, "reason");
  feed.outcome = text_of(*entry, "outcome");
  std::int64_t exit_code = 0;
  if (entry_object["exitCode"].get_int64().get(exit_code) == simdjson::SUCCESS)
    feed.exit_code = exit_code;
  feed.duration_ms = number_of(*entry, "durationMs");
  feed.rule = text_of(*entry, "rule");
  feed.approval = text_of(*entry, "approval");
  return feed;
}

std::expected<ConsoleEvent, std::string> decode_ask(const ObjectReader& reader) {
  AskEvent ask;
  ask.id = number_of(reader, "id");
  ask.host = text_of(reader, "host");
  ask.callers = texts_of(reader, "callers");
  ask.command = text_of(reader, "command");
  ask.match_begin = number_of(reader, "matchBegin");
  ask.match_end = number_of(reader, "matchEnd");
  // The marking must stay inside the text, whatever the numbers say.
  ask.match_end = std::min(ask.match_end, ask.command.size());
  ask.match_begin = std::min(ask.match_begin, ask.match_end);
  ask.omitted_before = number_of(reader, "omittedBefore");
  ask.omitted_after = number_of(reader, "omittedAfter");
  ask.rule = text_of(reader, "rule");
  ask.description_en = text_of(reader, "descriptionEn");
  ask.description_zh = text_of(reader, "descriptionZh");
  ask.wait_ms = number_of(reader, "waitMs");
  if (ask.id == 0) return Failure("a question without an id");
  return ask;
}

}  // namespace

std::expected<ConsoleEvent, std::string> decode_console_event(const PaddedPayload& frame) {
  simdjson::dom::parser parser;
  simdjson::dom::object object;
  if (parser.parse(reinterpret_cast<const std::uint8_t*>(frame.bytes.get()), frame.size, false)
          .get_object()
          .get(object))
    return Failure("not a JSON object");
  auto reader = ObjectReader::over(object);
  if (!reader) return Failure(reader.error());
  std::string event = text_of(*reader, "event");
  if (event == "attached") return AttachedEvent{};
  if (event == "request") return decode_request(object);
  if (event == "ask") return decode_ask(*reader);
  if (event == "settled") return SettledEvent{number_of(*reader, "id"), text_of(*reader, "end")};
  if (event == "verdict")
    return VerdictEvent{number_of(*reader, "id"), text_of(*reader, "result"),
                        text_of(*reader, "message")};
  // The service's own failure answer, e.g. an older service that has no console.
  if (auto ok = reader->boolean("ok"); ok && *ok && !**ok)
    return Failure("the service refused: " + text_of(*reader, "error"));
  return Failure("an unknown event \"" + event + "\"");
}

std::string console_request() {
  return R"({"op":"console"})";
}

std::string refusal_request(std::uint64_t id) {
  JsonWriter json;
  json.begin_object().key("op").string("refuse").key("id").unsigned_integer(id).end_object();
  return json.take();
}

SecretBytes approval_request(std::uint64_t id, const SecretString& secret) {
  std::string prefix = R"({"op":"approve","id":)" + std::to_string(id) + R"(,"secret":")";
  std::string text;
  // Room for the worst escaping up front, so that no reallocation leaves a copy behind.
  text.reserve(prefix.size() + secret.size() * 6 + 2);
  text += prefix;
  append_json_string_content(text, secret.view());
  text += "\"}";
  SecretBytes request = SecretBytes::copy_of(text);
  sodium_memzero(text.data(), text.size());
  return request;
}

}  // namespace pendrel::desktop
