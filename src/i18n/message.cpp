#include "i18n/message.h"

namespace pendrel {

std::string format_message_list(const MessagePair& pair, Language language,
                                std::span<const std::string> arguments) {
  std::string_view rest = pair.in(language);
  std::string result;
  result.reserve(rest.size() + 32);
  auto next_argument = arguments.begin();
  while (true) {
    std::size_t placeholder = rest.find("{}");
    if (placeholder == std::string_view::npos) break;
    result.append(rest.substr(0, placeholder));
    if (next_argument != arguments.end()) result += *next_argument++;
    rest.remove_prefix(placeholder + 2);
  }
  result.append(rest);
  return result;
}

}  // namespace pendrel
