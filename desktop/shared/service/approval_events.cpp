#include "desktop/shared/service/approval_events.h"

#include "protocol/json_writer.h"

namespace pendrel::desktop {
namespace {

bool continuation(char byte) {
  return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

}  // namespace

std::string_view utf8_prefix(std::string_view text, std::size_t bytes) {
  if (text.size() <= bytes) return text;
  while (bytes > 0 && continuation(text[bytes]))
    --bytes;
  return text.substr(0, bytes);
}

std::string attached_event() {
  return R"({"event":"attached"})";
}

std::string request_event(const AuditEntry& entry, const std::string& utc_time) {
  std::string line;
  if (entry.command.size() > max_fed_command_bytes) {
    AuditEntry shortened = entry;
    shortened.command = std::string(utf8_prefix(entry.command, max_fed_command_bytes)) + "…";
    line = audit_line(shortened, utc_time);
  } else {
    line = audit_line(entry, utc_time);
  }
  if (!line.empty() && line.back() == '\n') line.pop_back();
  return R"({"event":"request","entry":)" + line + "}";
}

std::string ask_event(std::uint64_t id, const ApprovalQuestion& question,
                      std::chrono::milliseconds wait_left) {
  std::string_view command = question.command;
  std::size_t begin = question.match_begin;
  std::size_t end = question.match_end;
  std::size_t before = 0;
  std::size_t after = 0;
  if (command.size() > max_asked_command_bytes) {
    // The match and what surrounds it, starting at a line when one starts near enough.
    std::size_t start =
        begin > max_asked_command_bytes / 2 ? begin - max_asked_command_bytes / 2 : 0;
    while (start < begin && continuation(command[start]))
      ++start;
    std::string_view window = utf8_prefix(command.substr(start), max_asked_command_bytes);
    before = start;
    after = command.size() - start - window.size();
    command = window;
    begin -= start;
    end = std::min(end - start, window.size());
  }
  JsonWriter json;
  json.begin_object().key("event").string("ask").key("id").unsigned_integer(id);
  json.key("host").string(question.host).key("callers").begin_array();
  for (const auto& caller : question.callers)
    json.string(caller);
  json.end_array();
  json.key("command").string(command);
  json.key("matchBegin").unsigned_integer(begin).key("matchEnd").unsigned_integer(end);
  json.key("omittedBefore").unsigned_integer(before).key("omittedAfter").unsigned_integer(after);
  json.key("rule").string(question.rule);
  json.key("descriptionEn").string(question.description_en);
  json.key("descriptionZh").string(question.description_zh);
  json.key("waitMs").unsigned_integer(
      static_cast<std::uint64_t>(std::max<long long>(wait_left.count(), 0)));
  json.end_object();
  return json.take();
}

std::string settled_event(std::uint64_t id, ApprovalEnd end) {
  JsonWriter json;
  json.begin_object().key("event").string("settled").key("id").unsigned_integer(id);
  json.key("end").string(approval_end_name(end)).end_object();
  return json.take();
}

std::string verdict_event(std::uint64_t id, std::string_view result, std::string_view message) {
  JsonWriter json;
  json.begin_object().key("event").string("verdict").key("id").unsigned_integer(id);
  json.key("result").string(result);
  if (!message.empty()) json.key("message").string(message);
  json.end_object();
  return json.take();
}

}  // namespace pendrel::desktop
