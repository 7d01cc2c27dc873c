// MessagePair and format_message: a Chinese and an English template with "{}" placeholders.
#pragma once

#include <concepts>
#include <span>
#include <string>
#include <string_view>

#include "i18n/language.h"

namespace pendrel {

struct MessagePair {
  std::string_view zh;
  std::string_view en;

  [[nodiscard]] constexpr std::string_view in(Language language) const {
    return language == Language::en ? en : zh;
  }
};

// Fills the chosen template: each "{}" takes the next argument; a placeholder without an
// argument disappears and arguments left over are dropped.
[[nodiscard]] std::string format_message_list(const MessagePair& pair, Language language,
                                              std::span<const std::string> arguments);

inline std::string display_text(std::string_view text) {
  return std::string(text);
}
inline std::string display_text(const char* text) {
  return std::string(text);
}
inline std::string display_text(const std::string& text) {
  return text;
}
template <std::integral Number>
std::string display_text(Number number) {
  return std::to_string(number);
}

template <typename... Arguments>
[[nodiscard]] std::string format_message(const MessagePair& pair, Language language,
                                         const Arguments&... arguments) {
  const std::string texts[] = {display_text(arguments)..., std::string()};
  return format_message_list(pair, language, std::span(texts, sizeof...(Arguments)));
}

}  // namespace pendrel
