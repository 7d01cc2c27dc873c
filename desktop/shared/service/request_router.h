// Answering the one request of a connection: host lookup, then the runner for the host's
// protocol; the audit entry is filled on the way.
#pragma once

#include <sys/types.h>

#include "desktop/shared/audit/audit_log.h"
#include "desktop/shared/service/service_context.h"
#include "protocol/error_code.h"
#include "protocol/messages.h"

namespace pendrel::desktop {

// The client a request came from.
struct RequestOrigin {
  int socket = -1;  // watched while a command runs: its hang-up means the caller is gone
  pid_t pid = 0;
  AnswerLanguage language = AnswerLanguage::zh;
};

struct Handled {
  Response answer;
  AuditEntry audit;                // everything but the duration, which the caller measures
  bool stop_service = false;       // `quit`: stop once the answer is sent
  bool answered_by_front = false;  // in the broker: the front ran the work and answers itself
};

// Never fails: every failure is an error answer with the code that says what happened.
[[nodiscard]] Handled handle_request(const Request& request, const RequestOrigin& origin,
                                     ServiceContext& context);

// The error answer for `code`, carrying the detail alone: pendrel puts the code's own text in
// front of it, in the caller's language, and shows that text alone when the detail is empty.
[[nodiscard]] ErrorBody error_answer(ErrorCode code, std::string_view detail = {});

}  // namespace pendrel::desktop
