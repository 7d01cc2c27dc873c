// The person's service's side of terminals, on run/admin.sock after the broker's opening
// {"op":"terminal","pid":P} (P is the client's pid, from the broker's peer check). Each frame
// is one JSON object until a terminal is attached; then terminal_frames.h.
//
//   {"action":"list"}                                  → {"ok":true,"terminals":[…]}
//   {"action":"open","host":H,"rows":R,"columns":C,"term":T}
//   {"action":"attach","id":I,"rows":R,"columns":C}
//       on the way, the service may ask and the client answers:
//       {"ask":"secret"}                                → {"secret":S} | {"cancel":true}
//       {"ask":"login","name":…,"instruction":…,"prompts":[{"text":…,"echo":B}]}
//                                                       → {"answers":[…]} | {"cancel":true}
//       {"ask":"hostkey","server":…,"offered":{"type":…,"fingerprint":…},"previous":{…}}
//                                                       → {"trust":true,"secret":S} |
//                                                       {"trust":false}
//       and ends with {"ok":true,"id":I,"hostName":N} (an SSH terminal, attached from here
//       on), {"ok":true,"token":T} (a LOCAL one: the front redeems T), or
//       {"ok":false,"code":…,"error":…}.
//   From the person's front:
//   {"action":"redeem","token":T} → {"ok":true,"act":"open","hostId":…,"hostName":…}
//                                 | {"ok":true,"act":"attach","id":…} | {"ok":false,…}
//   {"action":"report","event":"attached|detached|taken_over|closed","id":…,"hostId":…,
//    "hostName":…,"pid":P,"durationMs":D[,"exitCode":N][,"reason":…]}  → {"ok":true}
#pragma once

#include <sys/types.h>

#include <optional>

#include "desktop/shared/service/service_context.h"
#include "protocol/frame_reader.h"
#include "protocol/unique_fd.h"

namespace pendrel::desktop {

// Serves one terminal connection to its end (an attached one is the terminal's from then on).
void serve_core_terminal(UniqueFd socket, ServiceContext& context, pid_t client_pid,
                         std::optional<PaddedPayload> first);

}  // namespace pendrel::desktop
