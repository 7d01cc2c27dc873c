// The frames the service pushes to an attached console on run/admin.sock, one JSON object
// each:
//   {"event":"attached"}                                    first, once the console is in
//   {"event":"request","entry":{…an audit line…}}           a request was handled
//   {"event":"ask","id":N,"host":"…","callers":[…],"command":"…","matchBegin":B,
//    "matchEnd":E,"omittedBefore":0,"omittedAfter":0,"rule":"…","descriptionEn":"…",
//    "descriptionZh":"…","waitMs":60000}                    a match waits for the person
//   {"event":"settled","id":N,"end":"approved|refused|timed_out|detached|locked|
//    caller_gone|stopping"}                                 it stopped waiting, for any reason
//   {"event":"verdict","id":N,"result":"approved|refused|wrong_secret|not_waiting",
//    "message":"…"}                                         the answer to this console's decision
// and what a console sends: {"op":"approve","id":N,"secret":"…"} or {"op":"refuse","id":N}.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "desktop/shared/audit/audit_log.h"
#include "desktop/shared/service/approval_desk.h"

namespace pendrel::desktop {

// A command longer than this is sent as the part around its match, with the bytes left out
// on either side counted.
inline constexpr std::size_t max_asked_command_bytes = 1u << 20;
// The live feed shows the start of a long command.
inline constexpr std::size_t max_fed_command_bytes = 4096;

[[nodiscard]] std::string attached_event();
[[nodiscard]] std::string request_event(const AuditEntry& entry, const std::string& utc_time);
[[nodiscard]] std::string ask_event(std::uint64_t id, const ApprovalQuestion& question,
                                    std::chrono::milliseconds wait_left);
[[nodiscard]] std::string settled_event(std::uint64_t id, ApprovalEnd end);
[[nodiscard]] std::string verdict_event(std::uint64_t id, std::string_view result,
                                        std::string_view message = {});

// The longest prefix of `text` of at most `bytes` bytes that does not split a UTF-8 character.
[[nodiscard]] std::string_view utf8_prefix(std::string_view text, std::size_t bytes);

}  // namespace pendrel::desktop
