// Audit lines, written with the project's JSON writer.
#include "desktop/shared/audit/audit_log.h"

#include "desktop/shared/audit/utc_time.h"
#include "protocol/json_writer.h"
#include "protocol/lexical_path.h"

namespace pendrel::desktop {
namespace {

void optional_text(JsonWriter& json, std::string_view key, const std::string& value) {
  if (!value.empty()) json.key(key).string(value);
}

}  // namespace

std::string audit_line(const AuditEntry& entry, const std::string& utc_time) {
  JsonWriter json;
  json.begin_object();
  json.key("time").string(utc_time);
  json.key("pid").integer(entry.client_pid);
  if (!entry.caller.empty()) {
    json.key("caller").begin_array();
    for (const auto& name : entry.caller)
      json.string(name);
    json.end_array();
  }
  json.key("kind").string(entry.kind);
  optional_text(json, "hostId", entry.host_id);
  optional_text(json, "hostName", entry.host_name);
  optional_text(json, "command", entry.command);
  optional_text(json, "local", entry.local);
  optional_text(json, "remote", entry.remote);
  optional_text(json, "terminal", entry.terminal);
  optional_text(json, "reason", entry.reason);
  json.key("outcome").string(entry.outcome);
  if (entry.exit_code) json.key("exitCode").integer(*entry.exit_code);
  if (entry.bytes) json.key("bytes").unsigned_integer(*entry.bytes);
  json.key("durationMs").unsigned_integer(entry.duration_ms);
  optional_text(json, "rule", entry.rule);
  optional_text(json, "approval", entry.approval);
  json.end_object();
  return json.take_line();
}

AuditLog::AuditLog(const std::string& logs_dir, Rotation rotation)
    : file_(join_path(logs_dir, "audit.jsonl"), rotation) {}

std::expected<void, int> AuditLog::record(const AuditEntry& entry) {
  return file_.append(audit_line(entry, utc_timestamp(std::chrono::system_clock::now())));
}

}  // namespace pendrel::desktop
