// CliFailure and report_error: the one place where a failure becomes output.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "output/output.h"
#include "protocol/error_code.h"
#include "protocol/messages.h"

namespace pendrel {

// A local failure on its way to the end of the command.
struct CliFailure {
  std::string code;     // snake_case
  std::string message;  // already in the chosen language
  std::uint8_t exit_code = 1;
};

// JSON mode: {"error":code,"message":...} on standard output, the message being the detail,
// else the code's own text, else empty. Text mode: "pendrel: " and the line on standard error.
// Returns `exit_code` unchanged; write failures are ignored.
int report_error(Output& output, int exit_code, std::string_view code, std::string_view detail);

int report_failure(Output& output, const CliFailure& failure);

// A usage error: code "usage", exit code 1.
int report_usage(Output& output, std::string_view message);

// An answer of the wrong kind: code "internal", exit code 5, with its debug rendering.
int report_unexpected_answer(Output& output, const Response& answer);

// A local failure with one of the codes the desktop application also uses (connect_failed,
// app_not_running, ...): its name and its exit code come from the code table.
[[nodiscard]] CliFailure failure_with(ErrorCode code, std::string message);

// The failure for an error answer of the desktop application: its code and message
// unchanged, the exit code that the code maps to.
[[nodiscard]] CliFailure failure_from_error_body(const ErrorBody& body);

}  // namespace pendrel
