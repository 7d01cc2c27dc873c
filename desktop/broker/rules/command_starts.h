// Where commands may start in a script, found without parsing the shell's grammar.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace pendrel::desktop {

// Yields, in increasing order, every position where a command may start: the start of each
// line; the position after ; && || | & (not &> or >&) ( ) $( ` { !; and after the words then,
// else, elif, do, if, while, until. Quotes, here-documents and comments are not recognised on
// purpose: a separator inside them starts a command too. One pass over the text in all.
class CommandStarts {
 public:
  // `extra_line_starts` (sorted) are further positions that begin a line, such as where a
  // backslash-newline was joined away.
  explicit CommandStarts(std::string_view script,
                         std::span<const std::size_t> extra_line_starts = {});

  static constexpr std::size_t none = static_cast<std::size_t>(-1);

  // The next command start, or `none` after the last.
  [[nodiscard]] std::size_t next();

 private:
  [[nodiscard]] std::size_t scan();
  [[nodiscard]] bool at_word_boundary(std::size_t pos) const;

  std::string_view script_;
  std::span<const std::size_t> extra_;
  std::size_t extra_index_ = 0;
  std::size_t pos_ = 0;
  std::size_t last_ = none;
  bool started_ = false;
};

}  // namespace pendrel::desktop
