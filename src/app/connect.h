// connect_and_request: pendrel's road to the desktop application (client/service_request.h),
// with every failure on the way reported once through report_error.
#pragma once

#include <expected>
#include <optional>
#include <string>
#include <variant>

#include "app/command.h"
#include "client/service_request.h"
#include "output/report.h"
#include "protocol/messages.h"

namespace pendrel {

// The answer, of any kind but an error answer; or, after the failure has been reported once
// through report_error, the exit code to end with. The channel is closed in every case.
[[nodiscard]] std::expected<Response, int> connect_and_request(const Invocation& invocation,
                                                               Request request);

// connect_and_request, keeping a host list or exec answer in its frame when it is in the
// service's own form.
[[nodiscard]] std::expected<ReceivedAnswer, int> connect_and_receive(const Invocation& invocation,
                                                                     Request request);

// A command's one expected answer: `Canonical` when recognised, else the decoded `Answer`;
// `frame` holds what the first points into.
template <typename Canonical, typename Answer>
struct PrintableAnswer {
  PaddedPayload frame;
  std::variant<Canonical, Answer> answer;
};

// request_answer for a command that can print its answer from the frame: an answer of another
// kind is reported as `internal` just the same.
template <typename Canonical, typename Answer>
[[nodiscard]] std::expected<PrintableAnswer<Canonical, Answer>, int> request_printable_answer(
    const Invocation& invocation, Request request) {
  auto received = connect_and_receive(invocation, std::move(request));
  if (!received) return std::unexpected(received.error());
  if (received->canonical) {
    if (auto* wanted = std::get_if<Canonical>(&*received->canonical)) {
      return PrintableAnswer<Canonical, Answer>{std::move(received->frame), std::move(*wanted)};
    }
    received->decoded = to_response(*received->canonical);
  }
  if (auto* wanted = std::get_if<Answer>(&received->decoded)) {
    return PrintableAnswer<Canonical, Answer>{{}, std::move(*wanted)};
  }
  return std::unexpected(report_unexpected_answer(invocation.output, received->decoded));
}

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

}  // namespace pendrel
