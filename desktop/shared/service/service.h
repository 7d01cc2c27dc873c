// The service as a whole: from finding the data directory to the clean stop.
#pragma once

#include "desktop/shared/service/service_context.h"

namespace pendrel::desktop {

enum class ServiceMode {
  foreground,  // `serve`: the service log goes to standard error; SIGHUP stops it
  headless,    // `--headless`, as pendrel starts it: the log goes to logs/; SIGHUP is ignored
  in_broker,   // `broker-core`: a person's service inside the broker, headless, on the state
               // directory the broker gives it (desktop/broker/user_cores.h)
};

// At most this many connections are served at once; more wait in the listen queue.
inline constexpr unsigned max_concurrent_connections = 64;

// Runs the service until SIGTERM, SIGINT or a `quit` request and returns the exit code: 0 after
// a clean stop, and at once when another instance already serves the data directory; 1 when
// the data directory cannot be found or prepared. When the socket cannot be opened it writes
// run/cli.unavailable and keeps running (without a socket) until it is stopped.
// `serve_terminal` serves the connections that ask for a terminal (none: they are refused).
[[nodiscard]] int run_service(ServiceMode mode, TerminalServer serve_terminal = nullptr);

}  // namespace pendrel::desktop
