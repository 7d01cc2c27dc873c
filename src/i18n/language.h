// Language: the message language, chosen once from the environment; Chinese by default.
#pragma once

#include <string_view>

#include "protocol/environment.h"

namespace pendrel {

enum class Language { zh = 0, en = 1 };

// "zh" or "en", as the handshake sends it.
[[nodiscard]] std::string_view language_tag(Language language);

// PENDREL_LANG, LC_ALL, LC_MESSAGES and LANG decide in that order; then the first entry of
// the system locale list (LANGUAGE first); otherwise Chinese. Never fails.
[[nodiscard]] Language choose_language(const Environment& environment);

}  // namespace pendrel
