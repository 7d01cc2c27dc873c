// Writing and removing run/cli.unavailable, the marker pendrel reads when the service runs but
// its command-line socket could not be opened.
#pragma once

#include <expected>
#include <string>
#include <string_view>

namespace pendrel::desktop {

// Writes "<pid>\n<reason>\n" through a temporary file and a rename, mode 0600, so a reader
// never sees half a marker. Fails with the errno.
[[nodiscard]] std::expected<void, int> write_unavailable_marker(const std::string& path,
                                                                std::string_view reason);

// Removes the marker if it is ours (its pid is this process's). Never fails.
void remove_unavailable_marker(const std::string& path);

}  // namespace pendrel::desktop
