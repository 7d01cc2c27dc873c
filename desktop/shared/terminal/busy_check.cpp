#include "desktop/shared/terminal/busy_check.h"

namespace pendrel::desktop {

BusyReason check_busy(const TerminalFacts& facts) {
  if (facts.agent_command_running) return BusyReason::agent_command;
  // Full-screen programs draw in the alternate screen, whatever else they signal.
  if (facts.alternate_screen) return BusyReason::alternate_screen;
  if (facts.shell_in_foreground.has_value()) {
    if (!*facts.shell_in_foreground) return BusyReason::program_in_foreground;
    // A loop or a `read` in the shell itself keeps it in the foreground: where the line editor
    // signals its prompt, that signal must agree.
    if (facts.editor_signals_seen && !facts.editor_at_prompt) return BusyReason::not_at_prompt;
  } else if (!facts.editor_signals_seen) {
    // Over SSH the process groups are out of sight: without the line editor's signal nothing
    // says that the shell reads the next line.
    return BusyReason::no_prompt_signal;
  } else if (!facts.editor_at_prompt) {
    return BusyReason::not_at_prompt;
  }
  if (facts.person_typing) return BusyReason::person_typing;
  if (facts.since_last_output < prompt_quiet_time) return BusyReason::output_flowing;
  return BusyReason::none;
}

std::string_view busy_reason_text(BusyReason reason) {
  switch (reason) {
    case BusyReason::none:
      return "the shell waits at its prompt";
    case BusyReason::agent_command:
      return "another agent command runs in it";
    case BusyReason::alternate_screen:
      return "a full-screen program is open in it";
    case BusyReason::program_in_foreground:
      return "a program runs in it";
    case BusyReason::not_at_prompt:
      return "its shell is not at its prompt";
    case BusyReason::no_prompt_signal:
      return "its shell gives no sign of waiting at its prompt (no bracketed paste, no prompt "
             "marks)";
    case BusyReason::person_typing:
      return "the person has typed part of a line in it";
    case BusyReason::output_flowing:
      return "output is still arriving in it";
  }
  return "it is busy";
}

}  // namespace pendrel::desktop
