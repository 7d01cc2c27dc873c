// Writing the dangerous-command rules into settings.json, keeping every other member.
#pragma once

#include <expected>
#include <string>

#include "desktop/broker/rules/rule_types.h"

namespace pendrel::desktop {

// Sets the "rules" member of settings.json to `rules`, atomically, mode 0600. A file that does
// not parse is left alone and is the error ("{path}: {reason}"), as for the other switches.
// The caller holds the data directory's lock and read `rules` under it.
[[nodiscard]] std::expected<void, std::string> save_rule_settings(const std::string& data_dir,
                                                                  const RuleSettings& rules);

}  // namespace pendrel::desktop
