#include "desktop/broker/rules/command_starts.h"

#include "desktop/broker/rules/shell_words.h"

namespace pendrel::desktop {
namespace {

// Words after which the shell expects a command: then else elif do if while until.
bool is_command_keyword(std::string_view word) {
  switch (word.size()) {
    case 2:
      return word == "do" || word == "if";
    case 4:
      return word == "then" || word == "else" || word == "elif";
    case 5:
      return word == "while" || word == "until";
    default:
      return false;
  }
}

bool starts_command_after(char c) {
  switch (c) {
    case ';':
    case '|':
    case '(':
    case ')':  // closes a case pattern as well as a group: both may be followed by a command
    case '`':
    case '{':
    case '!':
      return true;
    default:
      return is_line_break(c);
  }
}

bool is_keyword_letter(char c) {
  return c >= 'a' && c <= 'z';
}

}  // namespace

CommandStarts::CommandStarts(std::string_view script,
                             std::span<const std::size_t> extra_line_starts)
    : script_(script), extra_(extra_line_starts) {}

bool CommandStarts::at_word_boundary(std::size_t pos) const {
  if (pos == 0) return true;
  char before = script_[pos - 1];
  return is_blank(before) || starts_command_after(before) || before == '&' || before == '}';
}

std::size_t CommandStarts::next() {
  // Positions can coincide (a join right after a separator): report each once.
  for (;;) {
    std::size_t start = scan();
    if (start == none || start != last_) {
      last_ = start;
      return start;
    }
  }
}

std::size_t CommandStarts::scan() {
  if (!started_) {
    started_ = true;
    return 0;
  }
  while (pos_ < script_.size()) {
    while (extra_index_ < extra_.size() && extra_[extra_index_] < pos_)
      ++extra_index_;
    if (extra_index_ < extra_.size() && extra_[extra_index_] == pos_) {
      ++extra_index_;
      return pos_;  // the character there is examined on the next call
    }
    std::size_t pos = pos_;
    char c = script_[pos];
    if (is_keyword_letter(c) && at_word_boundary(pos)) {
      std::size_t end = pos;
      while (end < script_.size() && is_keyword_letter(script_[end]))
        ++end;
      pos_ = end;
      if ((end == script_.size() || ends_word(script_[end])) &&
          is_command_keyword(script_.substr(pos, end - pos))) {
        return end;
      }
      continue;
    }
    pos_ = pos + 1;
    if (c == '&') {
      // &> and >& (and <&) redirect; they do not separate commands.
      bool redirection = (pos + 1 < script_.size() && script_[pos + 1] == '>') ||
                         (pos > 0 && (script_[pos - 1] == '>' || script_[pos - 1] == '<'));
      if (!redirection) return pos + 1;
    } else if (starts_command_after(c)) {
      return pos + 1;
    }
  }
  return none;
}

}  // namespace pendrel::desktop
