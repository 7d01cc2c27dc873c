// The dangerous-command check that every exec passes before anything runs, whatever the host.
#pragma once

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "desktop/broker/rules/rule_set.h"
#include "desktop/broker/rules/rule_types.h"
#include "desktop/shared/audit/service_log.h"
#include "protocol/messages.h"

namespace pendrel::desktop {

enum class AnswerLanguage;

// A command the rules stopped: the command_blocked answer, the rule for the audit entry, and
// what the settings say about asking a person instead.
struct BlockedCommand {
  ErrorBody answer;
  std::string rule;
  RuleHit hit;
  OnMatch on_match = OnMatch::ask;
  std::chrono::seconds approval_timeout{60};
};

// The compiled rules of the current settings, shared by every connection thread. The set is
// rebuilt only when the settings differ from those it was built from; rules that do not build
// (a pattern edited by hand into the file) give the built-ins, never no check, and the service
// log says why once per change.
class ExecPolicy {
 public:
  ExecPolicy() = default;

  // The rule set for `settings`; thread-safe.
  [[nodiscard]] RuleSet rules_for(const RuleSettings& settings, const ServiceLog& log);

  // What the rules say about `command` (the argument or a --stdin script, for a terminal too):
  // nothing when it may run, else the match with its command_blocked answer. Whether a person
  // is asked instead is for approval_gate to decide.
  [[nodiscard]] std::optional<BlockedCommand> check(std::string_view command,
                                                    const RuleSettings& settings,
                                                    const ServiceLog& log, AnswerLanguage language);

 private:
  std::mutex mutex_;
  std::optional<RuleSettings> built_from_;
  RuleSet rules_;
};

// The command_blocked answer for `hit`: the rule's name and description and the matched text.
[[nodiscard]] ErrorBody blocked_answer(const RuleHit& hit, AnswerLanguage language);
// The same words as the answer's message, without the code.
[[nodiscard]] std::string match_message(const RuleHit& hit, AnswerLanguage language);

}  // namespace pendrel::desktop
