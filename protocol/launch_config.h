// The launch settings the user chose in the desktop application (cli-launch.json).
#pragma once

#include <string>

namespace pendrel {

struct LaunchConfig {
  bool auto_start = true;
};

// Reads cli-launch.json in the working data directory. A missing, unreadable, non-UTF-8 or
// invalid file gives auto_start true; only a valid object with "autoStart": false gives false.
// Never fails.
[[nodiscard]] LaunchConfig load_launch_config(const std::string& working_data_dir);

}  // namespace pendrel
