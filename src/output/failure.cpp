#include "output/failure.h"

#include "i18n/catalogue.h"

namespace pendrel {

CliFailure usage_failure(std::string message) {
  return CliFailure{std::string(usage_code), std::move(message), 1};
}

CliFailure failure_with(ErrorCode code, std::string message) {
  const ErrorCodeInfo& info = info_for(code);
  return CliFailure{std::string(info.name), std::move(message),
                    static_cast<std::uint8_t>(info.exit_code)};
}

CliFailure failure_from_error_body(const ErrorBody& body) {
  return CliFailure{body.code, body.message, static_cast<std::uint8_t>(exit_code_for(body.code))};
}

CliFailure unexpected_answer_failure(const Response& answer, Language language) {
  return CliFailure{"internal",
                    format_message(messages::unexpected_answer, language, debug_render(answer)), 5};
}

}  // namespace pendrel
