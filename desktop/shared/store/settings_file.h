// The settings file settings.json and the launch settings cli-launch.json: reading, and
// switching one setting while keeping every other member of the file.
#pragma once

#include <expected>
#include <string>
#include <string_view>

#include "desktop/shared/store/settings.h"

namespace pendrel::desktop {

inline constexpr std::string_view settings_file_name = "settings.json";
inline constexpr std::string_view launch_file_name = "cli-launch.json";

// {"version":1,"externalCli":true}; a missing member takes its default. Members this version
// does not know are ignored here and kept when the file is rewritten, so that a file written
// by a newer version survives. Fails with the reason for a wrong type, a repeated key or
// another version.
[[nodiscard]] std::expected<Settings, std::string> parse_settings(std::string_view text);

// The settings of `data_dir`; a missing file gives the defaults. Fails with "{path}: {reason}".
[[nodiscard]] std::expected<Settings, std::string> load_settings(const std::string& data_dir);

// Sets "externalCli" in settings.json, atomically, mode 0600. A file that does not parse is
// left alone and is the error: the person should see and fix it rather than lose it.
[[nodiscard]] std::expected<void, std::string> save_external_cli(const std::string& data_dir,
                                                                 ExternalCli value);

// Sets "autoStart" in cli-launch.json, atomically, mode 0600. A file that is not a valid
// object counts as absent (pendrel reads it that way too) and is replaced.
[[nodiscard]] std::expected<void, std::string> save_auto_start(const std::string& data_dir,
                                                               bool auto_start);

}  // namespace pendrel::desktop
