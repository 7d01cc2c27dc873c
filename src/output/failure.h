// CliFailure: a failure on its way to the end of a request, as both front ends receive it —
// pendrel prints it through report_error, pendrel-mcp turns it into a tool error.
#pragma once

#include <cstdint>
#include <string>

#include "i18n/language.h"
#include "protocol/error_code.h"
#include "protocol/messages.h"

namespace pendrel {

struct CliFailure {
  std::string code;     // snake_case
  std::string message;  // already in the chosen language
  std::uint8_t exit_code = 1;
};

// The code of a mistake in what was asked for, with exit code 1.
inline constexpr std::string_view usage_code = "usage";

// A usage failure with its message.
[[nodiscard]] CliFailure usage_failure(std::string message);

// A local failure with one of the codes the desktop application also uses (connect_failed,
// app_not_running, ...): its name and its exit code come from the code table.
[[nodiscard]] CliFailure failure_with(ErrorCode code, std::string message);

// The failure for an error answer of the desktop application: its code and message
// unchanged, the exit code that the code maps to.
[[nodiscard]] CliFailure failure_from_error_body(const ErrorBody& body);

// An answer of the wrong kind: code "internal", exit code 5, with its debug rendering.
[[nodiscard]] CliFailure unexpected_answer_failure(const Response& answer, Language language);

}  // namespace pendrel
