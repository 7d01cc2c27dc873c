// Opening or attaching a terminal up to the first byte of the shell: the request to the
// person's service through the broker, the questions it asks on the way (the secret, the
// login's questions, a host key), and for a LOCAL terminal the token taken to the front.
#pragma once

#include <expected>
#include <string>

#include "desktop/broker/admin/admin_failure.h"
#include "desktop/broker/vault/password_input.h"
#include "desktop/shared/link/broker_address.h"
#include "protocol/unique_fd.h"

namespace pendrel::desktop {

struct AttachedTerminal {
  UniqueFd socket;  // speaks terminal_frames.h from here on
  std::string id;
  std::string host_name;
};

struct TerminalWish {
  std::string action;  // "open" or "attach"
  std::string target;  // the host, or the terminal's id
  PasswordSource secret_source;
};

// Fails with the reason: the broker unreachable or not its account, a wrong secret, the
// host or terminal unknown, the login refused.
[[nodiscard]] std::expected<AttachedTerminal, AdminFailure> reach_terminal(
    const BrokerAddress& broker, const std::string& data_dir, const TerminalWish& wish);

// The person's service's and the front's open terminals, as {"terminals":[…]} each; the
// front's is nothing when it is not running.
struct TerminalListings {
  std::string service;
  std::optional<std::string> front;
};
[[nodiscard]] std::expected<TerminalListings, AdminFailure> fetch_terminal_listings(
    const BrokerAddress& broker, const std::string& data_dir);

// The front's open LOCAL terminals; nothing when it does not answer.
[[nodiscard]] std::optional<std::size_t> count_front_terminals(const std::string& data_dir);

}  // namespace pendrel::desktop
