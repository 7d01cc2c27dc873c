// Keeping an exec's output within what a model can take: the head and tail of each stream.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "i18n/language.h"
#include "protocol/environment.h"

namespace pendrel::mcp {

inline constexpr std::size_t default_output_bound = 40000;
inline constexpr std::size_t least_output_bound = 1000;

// PENDREL_MCP_MAX_OUTPUT as a number of characters, at least least_output_bound; the default
// when unset, not a number or smaller.
[[nodiscard]] std::size_t output_bound_from(const Environment& environment);

struct BoundedOutput {
  std::string stdout_text;
  std::string stderr_text;
  bool cut = false;  // something was left out
};

// Both streams unchanged when together they hold at most `bound` characters (code points).
// Otherwise a stream that needs no more than half the bound keeps all of it, and the other gets
// the rest; a stream over its share keeps its first and last halves of that share with a note
// of how much was left out between them. Cuts fall between characters.
[[nodiscard]] BoundedOutput bound_output(std::string_view stdout_text, std::string_view stderr_text,
                                         std::size_t bound, Language language);

}  // namespace pendrel::mcp
