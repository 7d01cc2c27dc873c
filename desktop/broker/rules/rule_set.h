// The compiled dangerous-command rules and the check of a command text against them.
#pragma once

#include <cstddef>
#include <expected>
#include <memory>
#include <optional>
#include <string_view>

#include "desktop/broker/rules/rule_error.h"
#include "desktop/broker/rules/rule_types.h"

namespace pendrel::desktop {

// An immutable set of compiled rules. Building compiles every pattern once; checking is const,
// does no I/O and may run on many threads at once. Copies share the compiled rules.
//
// How a text is checked (find_match):
// - A command starts at the start of every line and after each separator, keyword or grouping
//   character that CommandStarts lists, inside quotes, here-documents and comments too; a
//   backslash at the end of a line joins it with the next (and both lines are starts).
// - At each start the prefixes that find_command lists are removed; the rules are matched on
//   the program's name (without path or quotes) followed by the rest of the line, seeing at
//   most the next `window_starts` command starts of that line. When prefixes were removed,
//   the any-program built-ins and the user rules are also matched on the command as written
//   (so a user rule may name a prefix: `sudo\s+su\b`).
// - The script of `sh|bash|dash|zsh -c '…'`, `env -S '…'` and `eval …` is checked as a text of
//   its own, and the command of each run clause (`find … -exec CMD … ;`, see next_run_clause)
//   as a command start, both to a nesting depth of `max_nesting`; nested scripts together may
//   be at most four times as long as the text (plus 64 KiB), which only a text built to exhaust
//   it comes near.
// - Rules are tried at each start in order (built-ins, then user rules); the first start with a
//   match decides. Patterns are anchored at the start and see bytes (Latin-1), so a literal
//   non-ASCII text matches but `.` is one byte.
// The work is linear in the length of the text: a command start costs a bounded amount, and the
// built-ins are filed (see BuiltinRule) so that most starts run no pattern at all.
class RuleSet {
 public:
  static constexpr int max_nesting = 3;
  static constexpr std::size_t window_starts = 15;

  // Every built-in rule; never fails.
  RuleSet();

  // The built-in rules less the disabled ones, then the enabled user rules. Fails on a user
  // rule that add_user_rule would refuse or a disabled name that is not a built-in; the
  // caller then keeps the built-ins (RuleSet()) rather than check nothing.
  [[nodiscard]] static std::expected<RuleSet, RuleError> build(const RuleSettings& settings);

  // The first rule the command text matches, or nothing.
  [[nodiscard]] std::optional<RuleHit> find_match(std::string_view command) const;

  struct Compiled;

 private:
  explicit RuleSet(std::shared_ptr<const Compiled> compiled);
  std::shared_ptr<const Compiled> compiled_;
};

}  // namespace pendrel::desktop
