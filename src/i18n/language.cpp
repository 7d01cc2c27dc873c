#include "i18n/language.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "protocol/utf8.h"
#include "protocol/white_space.h"

namespace pendrel {
namespace {

// Decides when the value, trimmed and lower-cased, begins with "en" or "zh". Lower-casing
// only ASCII is enough: no other character lower-cases to one of these four letters.
std::optional<Language> decide(std::string_view value) {
  std::string_view trimmed = trim_white_space(value);
  if (trimmed.size() < 2) return std::nullopt;
  std::string prefix;
  for (char c : trimmed.substr(0, 2)) {
    prefix += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  if (prefix == "en") return Language::en;
  if (prefix == "zh") return Language::zh;
  return std::nullopt;
}

std::optional<std::string_view> usable(const Environment& environment, std::string_view name) {
  auto value = environment.get(name);
  if (!value || !is_valid_utf8(*value)) return std::nullopt;
  return value;
}

// "en_GB.UTF-8@euro" becomes "en-GB".
std::string system_locale_entry(std::string_view raw) {
  std::string entry(raw.substr(0, raw.find_first_of(".@")));
  for (char& c : entry) {
    if (c == '_') c = '-';
  }
  return entry;
}

std::vector<std::string> system_locales(const Environment& environment) {
  std::vector<std::string> locales;
  auto add = [&](std::string_view raw) {
    std::string entry = system_locale_entry(raw);
    for (const auto& existing : locales) {
      if (existing == entry) return;
    }
    locales.push_back(std::move(entry));
  };
  if (auto language = usable(environment, "LANGUAGE"); language && !language->empty()) {
    std::size_t start = 0;
    while (true) {
      std::size_t colon = language->find(':', start);
      add(language->substr(start, colon - start));
      if (colon == std::string_view::npos) break;
      start = colon + 1;
    }
  }
  for (std::string_view name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    if (auto value = usable(environment, name); value && !value->empty()) add(*value);
  }
  return locales;
}

}  // namespace

std::string_view language_tag(Language language) {
  return language == Language::en ? "en" : "zh";
}

Language choose_language(const Environment& environment) {
  for (std::string_view name : {"PENDREL_LANG", "LC_ALL", "LC_MESSAGES", "LANG"}) {
    auto value = usable(environment, name);
    if (!value) continue;
    if (auto decided = decide(*value)) return *decided;
  }
  auto locales = system_locales(environment);
  if (!locales.empty()) {
    if (auto decided = decide(locales.front())) return *decided;
  }
  return Language::zh;
}

}  // namespace pendrel
