// What a terminal needs to know about the shell's output without emulating a screen: whether
// a full-screen program holds the alternate screen, whether the line editor asked for
// bracketed paste, and where the shell's prompt marks (OSC 133) put it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pendrel::desktop {

// The last OSC 133 mark seen: A the prompt starts, B the person's input starts, C the command
// runs, D it finished. `none` until a shell with prompt marks emits one.
enum class PromptMark { none, prompt, input, running, finished };

struct ScannerState {
  bool alternate_screen = false;  // DECSET 47, 1047 or 1049
  bool bracketed_paste = false;   // DECSET 2004
  PromptMark prompt = PromptMark::none;
  // Bracketed paste was asked for at least once outside the alternate screen: the shell's line
  // editor signals its prompt, so its absence means the shell is not at the prompt.
  bool bracketed_paste_seen = false;
};

// Fed the output in chunks as they arrive; a sequence may be split anywhere between two
// chunks. Unknown and malformed sequences are skipped; an overlong one is dropped whole, so
// that a program printing garbage cannot make the scanner hold memory.
class StreamScanner {
 public:
  void scan(std::string_view output);
  [[nodiscard]] const ScannerState& state() const { return state_; }

 private:
  enum class Step { text, escape, control_sequence, command_string, command_string_escape };
  void end_control_sequence(char final_byte);
  void end_command_string();

  ScannerState state_;
  Step step_ = Step::text;
  std::string sequence_;  // parameters of the sequence being read
  bool overlong_ = false;
};

}  // namespace pendrel::desktop
