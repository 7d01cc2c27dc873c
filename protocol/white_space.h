// Trimming of Unicode white space (the White_Space property) from valid UTF-8 text.
#pragma once

#include <string_view>

namespace pendrel {

// `text` without leading and trailing White_Space characters. `text` must be valid UTF-8.
[[nodiscard]] std::string_view trim_white_space(std::string_view text);

}  // namespace pendrel
