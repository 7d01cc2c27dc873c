#include "desktop/shared/terminal/stream_scanner.h"

#include <charconv>

namespace pendrel::desktop {
namespace {

constexpr char escape = '\x1b';
constexpr char bell = '\a';
// The marks this scanner reads are a few bytes long; an OSC carrying a title or a hyperlink
// may be longer and is of no interest.
constexpr std::size_t max_sequence_bytes = 256;

// DECSET/DECRST parameters: numbers separated by ';'.
template <typename Visit>
void for_each_parameter(std::string_view parameters, Visit visit) {
  while (!parameters.empty()) {
    auto end = parameters.find(';');
    std::string_view word = parameters.substr(0, end);
    unsigned value = 0;
    auto [last, error] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (error == std::errc() && last == word.data() + word.size()) visit(value);
    if (end == std::string_view::npos) break;
    parameters.remove_prefix(end + 1);
  }
}

}  // namespace

void StreamScanner::scan(std::string_view output) {
  for (char byte : output) {
    switch (step_) {
      case Step::text:
        if (byte == escape) step_ = Step::escape;
        break;
      case Step::escape:
        sequence_.clear();
        overlong_ = false;
        if (byte == '[')
          step_ = Step::control_sequence;
        else if (byte == ']')
          step_ = Step::command_string;
        else if (byte != escape)
          step_ = Step::text;
        break;
      case Step::control_sequence:
        if (byte >= 0x40 && byte <= 0x7e) {
          end_control_sequence(byte);
          step_ = Step::text;
        } else if (byte == escape) {
          step_ = Step::escape;  // a sequence cut short by the next one
        } else if (sequence_.size() < max_sequence_bytes) {
          sequence_.push_back(byte);
        } else {
          overlong_ = true;
        }
        break;
      case Step::command_string:
        if (byte == bell) {
          end_command_string();
          step_ = Step::text;
        } else if (byte == escape) {
          step_ = Step::command_string_escape;
        } else if (sequence_.size() < max_sequence_bytes) {
          sequence_.push_back(byte);
        } else {
          overlong_ = true;
        }
        break;
      case Step::command_string_escape:
        // ESC \ ends the string; ESC followed by anything else starts a new sequence.
        if (byte == '\\') {
          end_command_string();
          step_ = Step::text;
        } else {
          step_ = Step::escape;
          scan(std::string_view(&byte, 1));
        }
        break;
    }
  }
}

void StreamScanner::end_control_sequence(char final_byte) {
  if (overlong_ || (final_byte != 'h' && final_byte != 'l')) return;
  std::string_view parameters = sequence_;
  if (parameters.empty() || parameters.front() != '?') return;
  parameters.remove_prefix(1);
  bool set = final_byte == 'h';
  for_each_parameter(parameters, [&](unsigned mode) {
    if (mode == 47 || mode == 1047 || mode == 1049) state_.alternate_screen = set;
    if (mode == 2004) state_.bracketed_paste = set;
    if (mode == 2004 && set && !state_.alternate_screen) state_.bracketed_paste_seen = true;
  });
}

void StreamScanner::end_command_string() {
  if (overlong_) return;
  std::string_view text = sequence_;
  if (!text.starts_with("133;") || text.size() < 5) return;
  switch (text[4]) {
    case 'A':
      state_.prompt = PromptMark::prompt;
      break;
    case 'B':
      state_.prompt = PromptMark::input;
      break;
    case 'C':
      state_.prompt = PromptMark::running;
      break;
    case 'D':
      state_.prompt = PromptMark::finished;
      break;
    default:
      break;
  }
}

}  // namespace pendrel::desktop
