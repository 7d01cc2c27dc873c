// The marker the desktop application leaves when its command-line service could not start.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pendrel {

struct UnavailableMarker {
  std::uint32_t pid = 0;
  std::string reason;  // "unknown" when the file gives none
};

// Parses the content of run/cli.unavailable: the PID up to the first line feed, the reason
// after it, both trimmed of Unicode white space. Nothing when malformed.
[[nodiscard]] std::optional<UnavailableMarker> parse_unavailable_marker(std::string_view text);

// The reason of a live marker in the working data directory, or nothing: a missing, malformed
// or stale marker (its process gone, or not ours to signal) counts as none. Never fails.
[[nodiscard]] std::optional<std::string> read_unavailable_marker(
    const std::string& working_data_dir);

}  // namespace pendrel
