// Whether an agent's command may be typed into a terminal now. Only positive evidence that the
// shell waits at its prompt allows it: a line typed while a program runs is that program's
// input (a sudo password prompt, `cat > file`), so a terminal that gives no sign is busy.
#pragma once

#include <chrono>
#include <optional>
#include <string_view>

namespace pendrel::desktop {

// Output must have been quiet this long: a shell still drawing its prompt, or a program still
// printing, is not waiting for a line yet.
inline constexpr std::chrono::milliseconds prompt_quiet_time{200};

// What the terminal knows, gathered by its owner at the moment of the check.
struct TerminalFacts {
  // Whether the shell is the pty's foreground process group; known for a local pty only.
  std::optional<bool> shell_in_foreground;
  bool alternate_screen = false;  // DECSET 47, 1047 or 1049 in force
  // The shell's line editor has shown that it signals its prompt (bracketed paste or OSC 133
  // prompt marks seen at least once), and whether it is at its prompt now by that signal:
  // bracketed paste on, or the last prompt mark a prompt or input one.
  bool editor_signals_seen = false;
  bool editor_at_prompt = false;
  bool person_typing = false;  // a keystroke of the person's since their last Enter
  std::chrono::milliseconds since_last_output{0};
  bool agent_command_running = false;  // one agent command at a time per terminal
};

enum class BusyReason {
  none,
  agent_command,
  alternate_screen,
  program_in_foreground,
  not_at_prompt,
  no_prompt_signal,
  person_typing,
  output_flowing,
};

// Ready (BusyReason::none) or the first reason it is not, checked in the order of the enum.
[[nodiscard]] BusyReason check_busy(const TerminalFacts& facts);

// The reason as the answer's message says it ("a program runs in it").
[[nodiscard]] std::string_view busy_reason_text(BusyReason reason);

}  // namespace pendrel::desktop
