// The service's settings file: the external-CLI switch and the dangerous-command rules.
#pragma once

#include "desktop/broker/rules/rule_types.h"

namespace pendrel::desktop {

enum class ExternalCli { off, on };

struct Settings {
  // On by default: a person installs the service on purpose.
  ExternalCli external_cli = ExternalCli::on;
  // The "rules" member: the record while there is no vault; once there is one, a copy of the
  // vault's rules that the service only lets make them stricter (see current_rules.h).
  RuleSettings rules;
};

}  // namespace pendrel::desktop
