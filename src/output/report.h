// report_error: the one place where a failure becomes output.
#pragma once

#include <string_view>

#include "output/failure.h"
#include "output/output.h"

namespace pendrel {

// JSON mode: {"error":code,"message":...} on standard output, the message being the detail,
// else the code's own text, else empty. Text mode: "pendrel: " and the line on standard error.
// Returns `exit_code` unchanged; write failures are ignored.
int report_error(Output& output, int exit_code, std::string_view code, std::string_view detail);

int report_failure(Output& output, const CliFailure& failure);

// A usage error: code "usage", exit code 1.
int report_usage(Output& output, std::string_view message);

// An answer of the wrong kind: code "internal", exit code 5, with its debug rendering.
int report_unexpected_answer(Output& output, const Response& answer);

}  // namespace pendrel
