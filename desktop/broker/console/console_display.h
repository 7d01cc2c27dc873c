// What the console prints: terminal-safe text, a line per handled request, the question put to
// the person with the match marked, and the prompt line with its countdown. Pure functions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "desktop/broker/console/console_events.h"

namespace pendrel::desktop {

// `text` made harmless for the person's terminal: control characters (escape sequences
// included), C1 controls, and the invisible and bidirectional formatting characters that could
// hide or reorder what is shown are written as visible escapes (\x1b, \t, \u{202e}); bytes
// that are not UTF-8 become U+FFFD. Nothing an agent sends can move the cursor or recolour.
[[nodiscard]] std::string terminal_safe(std::string_view text);

// One line (no line feed) for a handled request: time, kind, host, callers, what it did,
// outcome, duration, and the rule with how asking ended.
[[nodiscard]] std::string request_line(const RequestFeed& feed);

// The question, several lines each ending in a line feed: host, callers, rule and its
// descriptions, the matched text, and the command with line numbers, the match in reverse
// video. A long command shows the lines around the match.
[[nodiscard]] std::string question_block(const AskEvent& ask);

enum class PromptMode { watching, deciding, typing_secret };

// The last line, redrawn every second: what the keys do and the seconds left.
[[nodiscard]] std::string prompt_line(PromptMode mode, const AskEvent* current,
                                      std::uint64_t seconds_left, std::size_t waiting);

// How a question ended, said in one line.
[[nodiscard]] std::string settled_line(const SettledEvent& settled);

// The service's answer to this console's decision, in one line.
[[nodiscard]] std::string verdict_line(const VerdictEvent& verdict);

}  // namespace pendrel::desktop
