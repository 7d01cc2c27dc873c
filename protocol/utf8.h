// UTF-8 checks and the lossy conversion that shows raw bytes as text.
#pragma once

#include <string>
#include <string_view>

namespace pendrel {

[[nodiscard]] bool is_valid_utf8(std::string_view bytes);

// The bytes as text: every maximal ill-formed subsequence becomes one U+FFFD.
[[nodiscard]] std::string to_display_text(std::string_view bytes);

}  // namespace pendrel
