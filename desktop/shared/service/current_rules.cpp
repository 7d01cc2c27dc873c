#include "desktop/shared/service/current_rules.h"

#include "desktop/broker/rules/rule_error.h"
#include "desktop/broker/rules/rule_settings_json.h"
#include "desktop/broker/rules/rule_settings_strictest.h"

namespace pendrel::desktop {

RuleSettings current_rules(ServiceContext& context) {
  RuleSettings plain = context.store.settings().rules;
  RuleSettings base;  // every built-in on, asking
  if (auto stored = context.vault.rules_json()) {
    if (!stored->empty()) {
      auto decoded = decode_rule_settings(*stored);
      if (decoded)
        base = std::move(*decoded);
      else
        context.log.write("the vault's rule settings do not decode (" + decoded.error().detail +
                          "); checking with every built-in rule");
    }
  } else if (context.vault.status().state == VaultState::needs_setup) {
    return plain;
  }
  return strictest_of(base, plain);
}

}  // namespace pendrel::desktop
