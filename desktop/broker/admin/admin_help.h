// The text of `pendrel-desktop help`.
#pragma once

#include <string_view>

namespace pendrel::desktop {

[[nodiscard]] std::string_view admin_help_text();

}  // namespace pendrel::desktop
