// Where the broker listens and which account must be serving it: what the front and the
// person's commands check before they send the broker anything.
#pragma once

#include <sys/types.h>

#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/environment.h"

namespace pendrel::desktop {

// The account the installed broker runs as, and its socket.
inline constexpr std::string_view service_account_name = "pendrel";
inline constexpr std::string_view installed_broker_socket = "/run/pendrel/broker.sock";

struct BrokerAddress {
  std::string socket;
  std::string account;  // the account whose uid must be the peer's (none in personal mode)
  // Personal mode: the broker the person's front starts as its own child, on run/broker.sock
  // in the data directory, running as the person (whose uid the peer must then have).
  bool personal = false;
};

// PENDREL_BROKER_SOCKET and PENDREL_BROKER_ACCOUNT when the socket is set (the account then
// defaults to the service account); otherwise the installed broker when the service account
// exists; otherwise nothing, and the person's front runs a broker of its own
// (`personal_broker`). Whoever sets a person's environment can point these anywhere: the peer
// check is what holds.
[[nodiscard]] std::optional<BrokerAddress> configured_broker(const Environment& environment);

// The broker of personal mode for the data directory `data_dir`.
[[nodiscard]] BrokerAddress personal_broker(const std::string& data_dir);

// The uid of `account` in the password database; the error says why there is none.
[[nodiscard]] std::expected<uid_t, std::string> uid_of_account(std::string_view account);

}  // namespace pendrel::desktop
