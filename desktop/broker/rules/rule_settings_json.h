// The rules settings as JSON, for the vault's settings to store.
#pragma once

#include <simdjson.h>

#include <expected>
#include <string>
#include <string_view>

#include "desktop/broker/rules/rule_error.h"
#include "desktop/broker/rules/rule_types.h"

namespace pendrel::desktop {

// {"userRules":[{"name":…,"pattern":…,"enabled":…}],"disabledBuiltins":[…],
//  "onMatch":"ask"|"block","approvalTimeoutSeconds":N}, members in that order.
[[nodiscard]] std::string encode_rule_settings(const RuleSettings& settings);

// The inverse of encode_rule_settings. Every member is optional (absent means the default),
// but an unknown or repeated member, a wrong type, an unknown onMatch or a time-out outside
// 1..600 seconds fails with bad_settings. Names and patterns are not checked here:
// RuleSet::build does that.
[[nodiscard]] std::expected<RuleSettings, RuleError> decode_rule_settings(std::string_view json);

// The same for a value inside a larger document.
[[nodiscard]] std::expected<RuleSettings, RuleError> decode_rule_settings(
    simdjson::dom::element value);

}  // namespace pendrel::desktop
