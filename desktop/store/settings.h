// The service's settings file: the external-CLI switch and the dangerous-command rules.
#pragma once

#include "desktop/rules/rule_types.h"

namespace pendrel::desktop {

enum class ExternalCli { off, on };

struct Settings {
  // On by default: a person installs the service on purpose.
  ExternalCli external_cli = ExternalCli::on;
  // The "rules" member. Kept here until the vault holds the settings: until then whoever can
  // write settings.json can weaken a rule.
  RuleSettings rules;
};

}  // namespace pendrel::desktop
