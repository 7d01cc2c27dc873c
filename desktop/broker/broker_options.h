// The command line of `pendrel-desktop broker`: where it listens, where it keeps each person's
// state, and which account it runs as.
#pragma once

#include <expected>
#include <span>
#include <string>

namespace pendrel::desktop {

struct BrokerOptions {
  std::string socket = "/run/pendrel/broker.sock";
  std::string state_dir = "/var/lib/pendrel";
  std::string account = "pendrel";
};

// `--socket P`, `--state-dir D`, `--account NAME`, each at most once; relative paths are
// refused. The error is the message for standard error.
[[nodiscard]] std::expected<BrokerOptions, std::string> parse_broker_options(
    std::span<const std::string> args);

}  // namespace pendrel::desktop
