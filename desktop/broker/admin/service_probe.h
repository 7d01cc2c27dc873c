// Whether the service of a data directory runs, and what it says about itself.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace pendrel::desktop {

struct ServiceState {
  bool running = false;
  std::optional<pid_t> pid;                       // from the socket's peer, else from the marker
  std::optional<std::string> version;             // from the handshake's welcome
  bool cli_disabled = false;                      // the handshake answered cli_disabled
  std::optional<std::string> unavailable_reason;  // its command-line service did not start
  std::string socket_path;
};

// How much to ask: the handshake tells the version; presence only connects, which is all that
// waiting for a stopping service needs.
enum class ProbeDepth { handshake, presence };

// Connects to run/cli.sock: the peer's credentials give the pid even when the handshake is
// refused, and the handshake gives the version. A service that is not listening counts as
// running when it left a live marker or holds run/lock. Every wait is bounded (a service busy
// shutting down may accept and never answer). Never fails.
[[nodiscard]] ServiceState probe_service(const std::string& data_dir,
                                         ProbeDepth depth = ProbeDepth::handshake);

}  // namespace pendrel::desktop
