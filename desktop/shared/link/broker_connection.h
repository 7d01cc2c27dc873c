// Reaching the broker: connect to its socket and make sure the process at the other end runs
// as the broker's account before a single byte goes out, so that whatever listens in the
// broker's place learns nothing.
#pragma once

#include <expected>
#include <string>

#include "desktop/shared/link/broker_address.h"
#include "protocol/unique_fd.h"

namespace pendrel::desktop {

struct BrokerFailure {
  enum class Kind {
    unreachable,  // no socket, or nobody listening
    impostor,     // the peer is not the broker's account
    other,
  };
  Kind kind = Kind::other;
  std::string text;  // names the socket and the reason
};

// The connected socket, its peer checked (SO_PEERCRED) against `address.account`. A peer of
// the caller's own uid is refused whenever the service account exists, whatever the address
// asks for: the installed broker never runs as a person.
[[nodiscard]] std::expected<UniqueFd, BrokerFailure> connect_to_broker(
    const BrokerAddress& address);

// How to start the broker, for the messages that say it cannot be reached.
[[nodiscard]] std::string how_to_start_broker();

}  // namespace pendrel::desktop
