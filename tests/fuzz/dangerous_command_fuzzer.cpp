// Any command text is checked against the built-in dangerous-command rules without a crash
// and in linear time (a slow input is a finding: the run's time limit catches it).
#include "desktop/broker/rules/rule_set.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace pendrel;
  static const desktop::RuleSet rules;
  (void)rules.find_match(fuzz::as_text(data, size));
  return 0;
}
