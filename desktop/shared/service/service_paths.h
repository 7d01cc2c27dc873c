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

// `personal_core`: the person's service inside a broker of personal mode, whose state is the
// data directory itself, where run/cli.sock, run/lock and the marker are the front's; it
// takes run/core.sock, run/core.lock and run/core.unavailable instead.
[[nodiscard]] ServicePaths service_paths(const std::string& data_dir, bool personal_core = false);

// The name in run/ of the socket on which a person's service inside the broker takes requests.
[[nodiscard]] inline const char* core_socket_name(bool personal) {
  return personal ? "core.sock" : "cli.sock";
}

// Creates the data directory (missing parents included) and run/ with mode 0700 and checks
// run/: a symbolic link, a directory of another user or one that others may enter is refused.
// The error is the reason, for standard error and the log.
[[nodiscard]] std::expected<void, std::string> prepare_run_directory(const ServicePaths& paths);

// Creates logs/ with mode 0700 when missing. The error is the reason.
[[nodiscard]] std::expected<void, std::string> prepare_logs_directory(const ServicePaths& paths);

}  // namespace pendrel::desktop
