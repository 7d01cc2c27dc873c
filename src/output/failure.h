// CliFailure: a failure on its way to the end of a request, as both front ends receive it —
// pendrel prints it through report_error, pendrel-mcp turns it into a tool error.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

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

// The code's own explanation in `language`, or nothing for usage and unknown codes.
[[nodiscard]] std::optional<std::string_view> text_of_code(std::string_view code,
                                                           Language language);

// The message of a failure as pendrel's JSON shows it: its own, else the code's explanation,
// else empty.
[[nodiscard]] std::string_view shown_message(const CliFailure& failure, Language language);

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
