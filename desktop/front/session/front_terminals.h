// The front's LOCAL terminals. A client reaches them on run/cli.sock with a first frame
//   {"terminal":"redeem","token":T,"rows":R,"columns":C,"term":…,"lang":…}
// whose token the person's service gave it after checking the person's secret; the front
// redeems it with the service (once) and opens the person's login shell or attaches to the
// terminal it names, answering {"ok":true,"id":…,"hostName":…} (terminal_frames.h follows)
// or {"ok":false,"code":…,"error":…}. {"terminal":"list"} answers the list
// (terminal_list_json) with "ok".
#pragma once

#include <sys/types.h>

#include <optional>
#include <string_view>

#include "desktop/shared/service/service_context.h"
#include "protocol/frame_reader.h"
#include "protocol/unique_fd.h"

namespace pendrel::desktop {

// Whether a first frame on run/cli.sock asks for a terminal rather than greeting as pendrel.
[[nodiscard]] bool asks_for_terminal(std::string_view frame);

void serve_front_terminal(UniqueFd socket, ServiceContext& context, pid_t client_pid,
                          std::optional<PaddedPayload> first);

// Sends a LOCAL terminal's event to the person's service, which keeps the audit.
void report_terminal_event(ServiceContext& context, const TerminalEvent& event);

}  // namespace pendrel::desktop
