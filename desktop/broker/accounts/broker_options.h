// The command line of `pendrel-desktop broker`: where it listens, where it keeps each person's
// state, and which account it runs as.
#pragma once

#include <sys/types.h>

#include <expected>
#include <span>
#include <string>

namespace pendrel::desktop {

struct BrokerOptions {
  std::string socket = "/run/pendrel/broker.sock";
  std::string state_dir = "/var/lib/pendrel";
  std::string account = "pendrel";
  // Personal mode: the person's own broker, started by their front (this pid) and ending with
  // it. It runs as the person, serves only them, and keeps their state in `state_dir` itself,
  // the data directory. 0 for the installed broker.
  pid_t front = 0;
};

// `--socket P`, `--state-dir D`, `--account NAME`, `--personal FRONT-PID`, each at most once;
// relative paths are refused. The error is the message for standard error.
[[nodiscard]] std::expected<BrokerOptions, std::string> parse_broker_options(
    std::span<const std::string> args);

}  // namespace pendrel::desktop
