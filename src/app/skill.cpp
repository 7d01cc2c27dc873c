#include "app/skill.h"

#include "i18n/catalogue.h"
#include "output/report.h"

namespace pendrel {

std::string_view skill_text() {
  static constexpr std::string_view text =
#include "skill_text.inc"
      ;
  return text;
}

int run_skill(const Invocation& invocation, Arguments rest) {
  if (rest.empty()) {
    invocation.output.out.write(skill_text());
    return 0;
  }
  return report_usage(invocation.output, messages::usage_skill.in(invocation.output.lang));
}

}  // namespace pendrel
