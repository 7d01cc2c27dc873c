#include "desktop/shared/terminal/captured_output.h"

#include <array>
#include <charconv>

#include "desktop/shared/terminal/command_marks.h"

namespace pendrel::desktop {
namespace {

// The line editor switching bracketed paste on again, and an OSC 133 prompt start: both are
// written only when the shell is back at its prompt.
constexpr std::array<std::string_view, 2> prompt_signals = {"\x1b[?2004h", "\x1b]133;A"};

// An exit status has at most three digits; a few more are tolerated, a longer run is no mark.
constexpr std::size_t max_status_digits = 10;

enum class Match { no, partly, whole };

// Whether `text` begins with `pattern`, or could once more bytes arrive.
Match match_at_start(std::string_view text, std::string_view pattern) {
  if (text.size() >= pattern.size()) return text.starts_with(pattern) ? Match::whole : Match::no;
  return pattern.starts_with(text) ? Match::partly : Match::no;
}

}  // namespace

CapturedOutput::CapturedOutput(std::string nonce, std::size_t max_bytes)
    : start_(start_mark(nonce)), end_prefix_(end_mark_prefix(nonce)), capture_(max_bytes) {}

void CapturedOutput::feed(std::string_view output) {
  if (stage_ == Stage::finished) return;
  pending_.append(output);
  if (stage_ == Stage::waiting_for_start) wait_for_start();
  if (stage_ == Stage::capturing) capture();
}

void CapturedOutput::wait_for_start() {
  const std::size_t found = pending_.find(start_);
  if (found != std::string::npos) {
    pending_.erase(0, found + start_.size());
    stage_ = Stage::capturing;
    return;
  }
  // Only a tail that may still grow into the mark is kept; the mark holds one ESC, its first.
  const std::size_t last_escape = pending_.rfind('\x1b');
  if (last_escape == std::string::npos ||
      match_at_start(std::string_view(pending_).substr(last_escape), start_) == Match::no) {
    pending_.clear();
  } else {
    pending_.erase(0, last_escape);
  }
}

void CapturedOutput::capture() {
  const std::string_view text = pending_;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t escape = text.find('\x1b', at);
    if (escape == std::string_view::npos) {
      take_output(text.substr(at));
      at = text.size();
      break;
    }
    take_output(text.substr(at, escape - at));
    const std::string_view rest = text.substr(escape);
    bool undecided = false;

    switch (match_at_start(rest, end_prefix_)) {
      case Match::partly:
        undecided = true;
        break;
      case Match::whole: {
        const std::string_view status = rest.substr(end_prefix_.size());
        std::size_t digits = 0;
        while (digits < status.size() && digits <= max_status_digits && status[digits] >= '0' &&
               status[digits] <= '9')
          ++digits;
        if (digits == status.size() && digits <= max_status_digits) {
          undecided = true;
        } else if (digits > 0 && digits <= max_status_digits && status[digits] == '\a') {
          int exit_code = 255;
          std::from_chars(status.data(), status.data() + digits, exit_code);
          pending_.clear();
          finish(exit_code, false);
          return;
        }
        break;
      }
      case Match::no:
        break;
    }
    for (std::string_view signal : prompt_signals) {
      const Match match = match_at_start(rest, signal);
      if (match == Match::whole) {
        pending_.clear();
        finish(interrupted_exit_code, true);
        return;
      }
      undecided = undecided || match == Match::partly;
    }
    if (undecided) {
      pending_.erase(0, escape);
      return;
    }
    take_output(rest.substr(0, 1));
    at = escape + 1;
  }
  pending_.clear();
}

void CapturedOutput::take_output(std::string_view bytes) {
  // The terminal writes every LF of the command's as CR LF (onlcr); a lone CR (a progress
  // line) is the command's own and stays. A CR at a chunk's end waits for the next byte.
  std::string text;
  text.reserve(bytes.size() + 1);
  for (char c : bytes) {
    if (held_cr_) {
      held_cr_ = false;
      if (c != '\n') text += '\r';
    }
    if (c == '\r')
      held_cr_ = true;
    else
      text += c;
  }
  capture_.append(text);
}

void CapturedOutput::note_prompt_returned() {
  if (stage_ == Stage::finished) return;
  // A mark's beginning that never completed was output after all.
  if (stage_ == Stage::capturing) take_output(pending_);
  pending_.clear();
  finish(interrupted_exit_code, true);
}

void CapturedOutput::finish(int exit_code, bool interrupted) {
  if (held_cr_) {
    held_cr_ = false;
    capture_.append("\r");
  }
  stage_ = Stage::finished;
  exit_code_ = exit_code;
  interrupted_ = interrupted;
}

CapturedAnswer CapturedOutput::answer() const {
  return CapturedAnswer{exit_code_, capture_.finish(), interrupted_};
}

}  // namespace pendrel::desktop
