// The help text, a fixed text per language.
#pragma once

#include <string_view>

#include "i18n/language.h"

namespace pendrel {

// Descriptions start at display column 50 (52 for two Chinese lines whose forms are wider).
[[nodiscard]] std::string_view help_text(Language language);

}  // namespace pendrel
