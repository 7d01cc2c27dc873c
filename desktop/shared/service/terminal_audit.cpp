#include "desktop/shared/service/terminal_audit.h"

#include <array>
#include <utility>

#include "protocol/json_writer.h"
#include "protocol/os_error.h"

namespace pendrel::desktop {
namespace {

constexpr std::array<std::pair<TerminalEventKind, std::string_view>, 5> event_names = {{
    {TerminalEventKind::opened, "opened"},
    {TerminalEventKind::attached, "attached"},
    {TerminalEventKind::detached, "detached"},
    {TerminalEventKind::taken_over, "taken_over"},
    {TerminalEventKind::closed, "closed"},
}};

constexpr std::array<std::pair<TerminalEventKind, std::string_view>, 5> audit_kinds = {{
    {TerminalEventKind::opened, "terminalOpen"},
    {TerminalEventKind::attached, "terminalAttach"},
    {TerminalEventKind::detached, "terminalDetach"},
    {TerminalEventKind::taken_over, "terminalTakenOver"},
    {TerminalEventKind::closed, "terminalClose"},
}};

std::string_view name_in(const auto& table, TerminalEventKind kind) {
  for (const auto& [entry, name] : table)
    if (entry == kind) return name;
  return "";
}

}  // namespace

AuditEntry terminal_audit_entry(const TerminalEvent& event) {
  AuditEntry entry;
  entry.client_pid = event.client_pid;
  entry.kind = std::string(name_in(audit_kinds, event.kind));
  entry.host_id = event.info.host_id;
  entry.host_name = event.info.host_name;
  entry.terminal = event.info.id;
  entry.duration_ms = static_cast<std::uint64_t>(std::max<long long>(event.duration.count(), 0));
  entry.outcome = "ok";
  if (event.ending) {
    if (event.ending->exit_status) {
      entry.outcome = "exited";
      entry.exit_code = *event.ending->exit_status;
    } else {
      entry.outcome = "ended";
      entry.reason = event.ending->reason;
    }
  }
  return entry;
}

void record_terminal_event(ServiceContext& context, const TerminalEvent& event) {
  AuditEntry entry = terminal_audit_entry(event);
  if (auto written = context.audit.record(entry); !written)
    context.log.write("cannot write the audit log: " + os_error_text(written.error()));
  context.approvals.publish(entry);
}

std::string terminal_report(const TerminalEvent& event) {
  JsonWriter writer;
  writer.begin_object()
      .key("action")
      .string("report")
      .key("event")
      .string(name_in(event_names, event.kind))
      .key("id")
      .string(event.info.id)
      .key("hostId")
      .string(event.info.host_id)
      .key("hostName")
      .string(event.info.host_name)
      .key("pid")
      .integer(event.client_pid)
      .key("durationMs")
      .integer(event.duration.count());
  if (event.ending && event.ending->exit_status)
    writer.key("exitCode").integer(*event.ending->exit_status);
  if (event.ending && !event.ending->reason.empty())
    writer.key("reason").string(event.ending->reason);
  writer.end_object();
  return writer.take();
}

std::expected<TerminalEvent, std::string> terminal_event_from_report(const ObjectReader& report) {
  TerminalEvent event;
  auto kind = report.string("event");
  if (!kind || !*kind) return std::unexpected("a report needs \"event\"");
  bool known = false;
  for (const auto& [entry, name] : event_names) {
    if (name == **kind) {
      event.kind = entry;
      known = true;
    }
  }
  if (!known) return std::unexpected("unknown event " + **kind);
  auto text = [&](std::string_view key) {
    auto value = report.string(key);
    return value && *value ? **value : std::string();
  };
  event.info.id = text("id");
  event.info.host_id = text("hostId");
  event.info.host_name = text("hostName");
  if (auto pid = report.unsigned_integer("pid"); pid && *pid && **pid <= 0x7fffffff)
    event.client_pid = static_cast<pid_t>(**pid);
  if (auto duration = report.unsigned_integer("durationMs"); duration && *duration)
    event.duration = std::chrono::milliseconds(static_cast<long long>(**duration));
  if (event.kind == TerminalEventKind::closed) {
    ShellEnding ending;
    if (auto code = report.unsigned_integer("exitCode"); code && *code && **code < 1024)
      ending.exit_status = static_cast<int>(**code);
    ending.reason = text("reason");
    event.ending = ending;
  }
  return event;
}

}  // namespace pendrel::desktop
