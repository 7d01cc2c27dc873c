#include "desktop/broker/rules/rule_error.h"

namespace pendrel::desktop {

std::string_view rule_fault_name(RuleFault fault) {
  switch (fault) {
    case RuleFault::bad_name:
      return "bad_name";
    case RuleFault::name_taken:
      return "name_taken";
    case RuleFault::unknown_rule:
      return "unknown_rule";
    case RuleFault::builtin_not_removable:
      return "builtin_not_removable";
    case RuleFault::bad_pattern:
      return "bad_pattern";
    case RuleFault::bad_settings:
      return "bad_settings";
  }
  return "unknown";
}

}  // namespace pendrel::desktop
