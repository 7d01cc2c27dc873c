// The service's files in the data directory, and preparing the directories that hold them.
#pragma once

#include <expected>
#include <string>

namespace pendrel::desktop {

struct ServicePaths {
  std::string data_dir;
  std::string run_dir;   // run/
  std::string logs_dir;  // logs/
  std::string socket;    // run/cli.sock
  std::string lock;      // run/lock: flock decides the one instance; holds its pid
  std::string marker;    // run/cli.unavailable
};

[[nodiscard]] ServicePaths service_paths(const std::string& data_dir);

// Creates the data directory (missing parents included) and run/ with mode 0700 and checks
// run/: a symbolic link, a directory of another user or one that others may enter is refused.
// The error is the reason, for standard error and the log.
[[nodiscard]] std::expected<void, std::string> prepare_run_directory(const ServicePaths& paths);

// Creates logs/ with mode 0700 when missing. The error is the reason.
[[nodiscard]] std::expected<void, std::string> prepare_logs_directory(const ServicePaths& paths);

}  // namespace pendrel::desktop
