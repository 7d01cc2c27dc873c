// The launch settings the user chose in the desktop application (cli-launch.json).
#pragma once

#include <string>
#include <string_view>

namespace pendrel {

struct LaunchConfig {
  bool auto_start = true;
};

// The settings in the text of cli-launch.json, by the rule of load_launch_config. Never fails.
[[nodiscard]] LaunchConfig parse_launch_config(std::string_view content);

// Reads cli-launch.json in the working data directory. A missing, unreadable, non-UTF-8 or
// invalid file gives auto_start true; only a valid object with "autoStart": false gives false.
// Never fails.
[[nodiscard]] LaunchConfig load_launch_config(const std::string& working_data_dir);

}  // namespace pendrel
