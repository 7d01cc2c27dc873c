// A tool call's result: the structured content with pendrel's JSON members, the same compact
// JSON as a text block, and isError for a failure.
#pragma once

#include <cstddef>
#include <string>

#include "i18n/language.h"
#include "mcp/tools.h"
#include "output/failure.h"
#include "protocol/messages.h"

namespace pendrel::mcp {

// Which revision's shape a result takes: the stateless one adds "resultType".
enum class Era { legacy, stateless };

// The result for the answer to `tool`'s request: {"ok":true, …pendrel's members…}; an exec's
// streams kept within `output_bound` characters ("truncated" says whether the service or the
// bound cut anything). An answer of a kind the tool does not expect is the `internal` failure.
[[nodiscard]] std::string answer_result(Tool tool, const Response& answer, std::size_t output_bound,
                                        Language language, Era era);

// {"ok":false,"error":code,"message":…,"pendrelExitCode":n} with isError true; the message is
// the one pendrel's JSON would show.
[[nodiscard]] std::string failure_result(const CliFailure& failure, Language language, Era era);

}  // namespace pendrel::mcp
