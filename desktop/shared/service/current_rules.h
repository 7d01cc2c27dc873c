// The rule settings an exec is checked against, taken from where they cannot be weakened.
#pragma once

#include "desktop/broker/rules/rule_types.h"
#include "desktop/shared/service/service_context.h"

namespace pendrel::desktop {

// - The vault is open: its rules, made stricter (never weaker) by settings.json's "rules".
// - A vault exists but is locked or cannot be opened: every built-in rule, asking, made
//   stricter by settings.json's rules (the person's commands keep a copy of the vault's rules
//   there, so that their own rules apply while it is locked).
// - There is no vault: settings.json's rules as they are. Then only LOCAL hosts are served,
//   which hold nothing that a process able to edit that file could not reach anyway.
[[nodiscard]] RuleSettings current_rules(ServiceContext& context);

}  // namespace pendrel::desktop
