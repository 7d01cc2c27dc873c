// Just enough of the shell's word syntax to read a program name, an option or a `-c` script.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pendrel::desktop {

// Space, tab, vertical tab, form feed: what separates words on a line.
[[nodiscard]] constexpr bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

[[nodiscard]] constexpr bool is_line_break(char c) {
  return c == '\n' || c == '\r';
}

// A character that ends an unquoted word: a blank, a line break, or one of ; & | ( ) < > `.
[[nodiscard]] constexpr bool ends_word(char c) {
  switch (c) {
    case ';':
    case '&':
    case '|':
    case '(':
    case ')':
    case '<':
    case '>':
    case '`':
      return true;
    default:
      return is_blank(c) || is_line_break(c);
  }
}

// Whether a word starts at `pos` (before `limit`), rather than a word end or the limit.
[[nodiscard]] constexpr bool at_word(std::string_view text, std::size_t pos, std::size_t limit) {
  return pos < limit && !ends_word(text[pos]);
}

// The first position at or after `pos` (and before `limit`) that is not a blank.
[[nodiscard]] std::size_t skip_blanks(std::string_view text, std::size_t pos, std::size_t limit);

struct ShellWord {
  std::string text;     // with the quoting removed: '…', "…", $'…' and backslashes
  std::size_t end = 0;  // the position just after the word
};

// Reads the word that starts at `pos`, never looking at or past `limit`. A quote still open
// at `limit` ends the word there, so the result is always bounded by the text examined.
// An empty result (pos at a word end) has end == pos.
[[nodiscard]] ShellWord read_shell_word(std::string_view text, std::size_t pos, std::size_t limit);

// As read_shell_word, appending the word's text to `out`; returns the position after it.
std::size_t append_shell_word(std::string_view text, std::size_t pos, std::size_t limit,
                              std::string& out);

// Whether `word` (as written) is an assignment such as NAME=value or NAME+=value.
[[nodiscard]] bool is_assignment(std::string_view word);

}  // namespace pendrel::desktop
