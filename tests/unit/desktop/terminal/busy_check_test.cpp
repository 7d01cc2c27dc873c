// When an agent's command may be typed: only on positive evidence of a waiting prompt.
#include "desktop/shared/terminal/busy_check.h"

#include <gtest/gtest.h>

namespace pendrel::desktop {
namespace {

using std::chrono::milliseconds;

TEST(BusyCheck, TypesOnlyOnPositiveEvidenceOfAWaitingPrompt) {
  const milliseconds quiet = prompt_quiet_time;
  const milliseconds noisy = prompt_quiet_time - milliseconds(1);
  // Local shells in the foreground, one with a line editor's signals and one without; an SSH
  // shell with bracketed paste on.
  const TerminalFacts local_dash{.shell_in_foreground = true, .since_last_output = quiet};
  const TerminalFacts local_bash{.shell_in_foreground = true,
                                 .editor_signals_seen = true,
                                 .editor_at_prompt = true,
                                 .since_last_output = quiet};
  const TerminalFacts ssh_bash{
      .editor_signals_seen = true, .editor_at_prompt = true, .since_last_output = quiet};
  auto with = [](TerminalFacts facts, auto change) {
    change(facts);
    return facts;
  };
  const struct {
    std::string name;
    TerminalFacts facts;
    BusyReason expected;
  } cases[] = {
      {"local shell in the foreground", local_dash, BusyReason::none},
      {"local shell with its editor at the prompt", local_bash, BusyReason::none},
      {"ssh shell with bracketed paste on", ssh_bash, BusyReason::none},
      {"a program in the local foreground",
       with(local_dash, [](auto& f) { f.shell_in_foreground = false; }),
       BusyReason::program_in_foreground},
      {"a local shell that signals its prompt but is running a loop",
       with(local_bash, [](auto& f) { f.editor_at_prompt = false; }), BusyReason::not_at_prompt},
      {"a full-screen program, local", with(local_bash, [](auto& f) { f.alternate_screen = true; }),
       BusyReason::alternate_screen},
      {"a full-screen program that asked for bracketed paste, ssh",
       with(ssh_bash, [](auto& f) { f.alternate_screen = true; }), BusyReason::alternate_screen},
      {"ssh shell without any signal", TerminalFacts{.since_last_output = quiet},
       BusyReason::no_prompt_signal},
      {"ssh shell running a command", with(ssh_bash, [](auto& f) { f.editor_at_prompt = false; }),
       BusyReason::not_at_prompt},
      {"the person typed part of a line", with(ssh_bash, [](auto& f) { f.person_typing = true; }),
       BusyReason::person_typing},
      {"output has just arrived", with(local_dash, [&](auto& f) { f.since_last_output = noisy; }),
       BusyReason::output_flowing},
      {"another agent command", with(local_bash, [](auto& f) { f.agent_command_running = true; }),
       BusyReason::agent_command},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(check_busy(c.facts), c.expected) << c.name;
    EXPECT_FALSE(busy_reason_text(check_busy(c.facts)).empty()) << c.name;
  }
}

}  // namespace
}  // namespace pendrel::desktop
