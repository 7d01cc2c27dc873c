// Reading a file a command names: by its path, or, for "/dev/fd/N", from descriptor N itself.
// Inside the broker the person's files arrive open, and reopening one by that name would be
// refused to the broker's account.
#pragma once

#include <expected>
#include <string>

namespace pendrel::desktop {

// The whole content, or the errno of the failing call.
[[nodiscard]] std::expected<std::string, int> read_passed_file(const std::string& path);

}  // namespace pendrel::desktop
