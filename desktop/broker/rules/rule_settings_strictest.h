// Combining the rule settings kept in the vault with those of a file anyone can edit, so that
// the editable ones can only ever make the check stricter.
#pragma once

#include "desktop/broker/rules/rule_types.h"

namespace pendrel::desktop {

// `base` with what `extra` adds to it and nothing that `extra` takes away:
// - the built-ins disabled are those of `base` alone;
// - every user rule of `base` is kept, and one of `extra` that is enabled is added (or, when
//   `base` has it by the same name and pattern, switched on); one whose name is a built-in's
//   or names a different rule of `base`, or whose name or pattern is refused, is left out, so
//   that it cannot stop the rest from building;
// - "block outright" when either says so; the shorter approval time-out.
[[nodiscard]] RuleSettings strictest_of(const RuleSettings& base, const RuleSettings& extra);

}  // namespace pendrel::desktop
