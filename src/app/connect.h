// connect_and_request: the one road to the desktop application. Finds its data directory,
// connects (starting it without a window when it is not running and the launch settings allow),
// sends one request and returns the answer.
#pragma once

#include <expected>
#include <string>

#include "app/command.h"
#include "output/report.h"
#include "protocol/messages.h"

namespace pendrel {

// The answer, of any kind but an error answer; or, after the failure has been reported once
// through report_error, the exit code to end with. The channel is closed in every case.
[[nodiscard]] std::expected<Response, int> connect_and_request(const Invocation& invocation,
                                                               Request request);

// connect_and_request for a command that expects one kind of answer: that answer, or the exit
// code after the failure was reported once; an answer of any other kind is reported as
// `internal` with its debug rendering.
template <typename Answer>
[[nodiscard]] std::expected<Answer, int> request_answer(const Invocation& invocation,
                                                        Request request) {
  auto answer = connect_and_request(invocation, std::move(request));
  if (!answer) return std::unexpected(answer.error());
  if (auto* wanted = std::get_if<Answer>(&*answer)) return std::move(*wanted);
  return std::unexpected(report_unexpected_answer(invocation.output, *answer));
}

// How a request is named in the diagnostic lines: "ls", "exec（主机 web-1）", ...
[[nodiscard]] std::string request_label(const Request& request);

}  // namespace pendrel
