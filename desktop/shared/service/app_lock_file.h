// The record that `lock --all` was given, kept in the data directory so that the whole
// application stays locked over a restart of the service until the next unlock.
#pragma once

#include <expected>
#include <string>
#include <string_view>

namespace pendrel::desktop {

inline constexpr std::string_view app_lock_file_name = "app-locked";

// Whether anything is at the record's path. Anything counts: deleting the record is the only way
// round it, and that gains a process no more than listing and LOCAL hosts (see the README).
[[nodiscard]] bool app_lock_recorded(const std::string& data_dir);

// Writes the record (atomically, mode 0600); the error says what failed.
[[nodiscard]] std::expected<void, std::string> record_app_lock(const std::string& data_dir);

// Removes the record; no record is no error.
[[nodiscard]] std::expected<void, std::string> clear_app_lock(const std::string& data_dir);

}  // namespace pendrel::desktop
