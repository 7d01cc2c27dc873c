// A terminal's life in the audit log: its opening, each attachment and detachment, and its
// end, with the host, the terminal's id, how long and how it ended; never what was typed or
// shown.
#pragma once

#include <expected>
#include <string>

#include "desktop/shared/service/service_context.h"
#include "desktop/shared/store/json_object_reader.h"
#include "desktop/shared/terminal/terminal.h"

namespace pendrel::desktop {

// Audit kinds "terminalOpen", "terminalAttach", "terminalDetach", "terminalTakenOver",
// "terminalClose"; the outcome of a close is "exited" with the exit code, or "ended" with the
// reason.
[[nodiscard]] AuditEntry terminal_audit_entry(const TerminalEvent& event);

// Writes the line and shows it to the attached consoles.
void record_terminal_event(ServiceContext& context, const TerminalEvent& event);

// The front's report of one of its LOCAL terminals' events, for the broker's audit:
// {"action":"report","event":…,"id":…,"hostId":…,"hostName":…,"pid":P,"durationMs":D
// [,"exitCode":N][,"reason":…]}.
[[nodiscard]] std::string terminal_report(const TerminalEvent& event);
[[nodiscard]] std::expected<TerminalEvent, std::string> terminal_event_from_report(
    const ObjectReader& report);

}  // namespace pendrel::desktop
