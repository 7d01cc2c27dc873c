#include "output/transfer_text.h"

#include <array>
#include <charconv>
#include <string_view>

#include "i18n/catalogue.h"

namespace pendrel {
namespace {

constexpr std::array<std::string_view, 4> size_units{"KB", "MB", "GB", "TB"};

// One digit after the point, rounded as printf's %.1f (ties to even on the exact value).
std::string one_decimal(double value) {
  std::array<char, 400> buffer{};  // room for the largest double written in full
  auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                              std::chars_format::fixed, 1);
  return std::string(buffer.data(), result.ptr);
}

}  // namespace

std::string size_text(std::uint64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + " B";
  double value = static_cast<double>(bytes) / 1024.0;
  std::size_t unit = 0;
  while (value >= 1024.0 && unit + 1 < size_units.size()) {
    value /= 1024.0;
    ++unit;
  }
  std::string text = one_decimal(value);
  text += ' ';
  text += size_units[unit];
  return text;
}

std::string duration_text(std::uint64_t milliseconds, Language language) {
  return format_message(messages::duration_seconds, language,
                        one_decimal(static_cast<double>(milliseconds) / 1000.0));
}

}  // namespace pendrel
