// The inside of a RuleSet: the compiled patterns, shared by its copies.
#pragma once

#include <re2/re2.h>
#include <re2/set.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "desktop/rules/rule_set.h"

namespace pendrel::desktop {

struct RuleSet::Compiled {
  std::vector<std::string> names;
  std::vector<std::unique_ptr<RE2>> patterns;  // anchored at the start when matched
  // All patterns at once, so that a command start costs one pass however many rules there are;
  // empty when there are no rules.
  std::optional<RE2::Set> any;
};

}  // namespace pendrel::desktop
