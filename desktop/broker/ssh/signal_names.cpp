#include "desktop/broker/ssh/signal_names.h"

#include <array>
#include <utility>

namespace pendrel::desktop {

// The names of RFC 4254 §6.10 and their Linux numbers.
int signal_number(std::string_view name) {
  static constexpr std::array<std::pair<std::string_view, int>, 15> numbers{{
      {"HUP", 1},
      {"INT", 2},
      {"QUIT", 3},
      {"ILL", 4},
      {"TRAP", 5},
      {"ABRT", 6},
      {"BUS", 7},
      {"FPE", 8},
      {"KILL", 9},
      {"USR1", 10},
      {"SEGV", 11},
      {"USR2", 12},
      {"PIPE", 13},
      {"ALRM", 14},
      {"TERM", 15},
  }};
  for (const auto& [known, number] : numbers) {
    if (known == name) return number;
  }
  return -1;
}

}  // namespace pendrel::desktop
