// Reading one agent command's answer out of a terminal's output: the bytes between its start
// and end marks (command_marks.h), as an exec answer's stdout, and the exit status the end
// mark carries.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "protocol/capped_text.h"

namespace pendrel::desktop {

// The captured output is cut at this many bytes, as an exec's stdout is.
inline constexpr std::size_t max_captured_bytes = 1'048'576;

// The exit code of a command whose prompt came back without its end mark: the person pressed
// Ctrl-C (SIGINT, 128 + 2) and the subshell that writes the end mark ended with it.
inline constexpr int interrupted_exit_code = 130;

struct CapturedAnswer {
  int exit_code = 0;
  CappedText output;  // CR LF as LF, valid UTF-8, at most max_captured_bytes
  bool interrupted = false;
};

// Fed the terminal's output as it arrives, in chunks split anywhere (inside a mark too).
// Before the start mark everything is the echo of what was typed, and is skipped; marks of
// another nonce are output like any other bytes. Once capturing, the shell's prompt coming back
// (bracketed paste switched on again, or an OSC 133 prompt mark) ends the capture as
// interrupted: the end mark is always written before the prompt. Holds at most the captured
// bound and a mark's length.
class CapturedOutput {
 public:
  enum class Stage { waiting_for_start, capturing, finished };

  explicit CapturedOutput(std::string nonce, std::size_t max_bytes = max_captured_bytes);

  void feed(std::string_view output);

  // The caller saw the prompt come back some other way (a local shell in the foreground again,
  // after every byte it wrote before was fed): ends the capture as interrupted.
  void note_prompt_returned();

  [[nodiscard]] Stage stage() const { return stage_; }

  // What was captured, once finished (and so far, before).
  [[nodiscard]] CapturedAnswer answer() const;

 private:
  void wait_for_start();
  void capture();
  void take_output(std::string_view bytes);
  void finish(int exit_code, bool interrupted);

  std::string start_;
  std::string end_prefix_;
  Stage stage_ = Stage::waiting_for_start;
  std::string pending_;  // bytes not yet decided: a possible mark's beginning, a CR
  OutputCapture capture_;
  bool held_cr_ = false;
  int exit_code_ = 0;
  bool interrupted_ = false;
};

}  // namespace pendrel::desktop
