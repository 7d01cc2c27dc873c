#include "protocol/environment.h"

#include <cstring>

extern char** environ;

namespace pendrel {

Environment Environment::from_process() {
  std::map<std::string, std::string, std::less<>> variables;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    std::string_view text(*entry);
    auto equals = text.find('=');
    if (equals == std::string_view::npos) continue;
    // The first occurrence wins, as getenv would see it.
    variables.emplace(std::string(text.substr(0, equals)), std::string(text.substr(equals + 1)));
  }
  return Environment(std::move(variables));
}

std::optional<std::string_view> Environment::get(std::string_view name) const {
  auto found = variables_.find(name);
  if (found == variables_.end()) return std::nullopt;
  return std::string_view(found->second);
}

std::optional<std::string_view> Environment::get_non_empty(std::string_view name) const {
  auto value = get(name);
  if (!value || value->empty()) return std::nullopt;
  return value;
}

void Environment::unset(std::string_view name) {
  auto found = variables_.find(name);
  if (found != variables_.end()) variables_.erase(found);
}

}  // namespace pendrel
