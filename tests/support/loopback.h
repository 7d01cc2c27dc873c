// The address 127.0.0.1:port, for the tests' own listeners and relays in front of a test server.
#pragma once

#include <netinet/in.h>

#include <cstdint>

namespace pendrel::testing {

// 127.0.0.1 at `port` (0: any free port, for bind).
[[nodiscard]] sockaddr_in loopback(std::uint16_t port);

}  // namespace pendrel::testing
