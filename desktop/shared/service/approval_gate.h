// What becomes of a command the rules matched: blocked at once, or put to a person at a
// console and answered by how that ended.
#pragma once

#include <optional>
#include <string>

#include "desktop/shared/service/exec_policy.h"
#include "desktop/shared/service/service_context.h"
#include "protocol/messages.h"

namespace pendrel::desktop {

struct GateVerdict {
  std::optional<ErrorBody> refusal;  // nothing: approved, the command may run
  std::string approval;              // how the asking ended, for the audit entry; "" if none
};

// The match's request, as far as the person is shown it.
struct MatchedRequest {
  const std::string& command;
  const std::vector<std::string>& callers;
  std::string host;  // name and id
  pid_t pid = 0;
  int caller_fd = -1;
  AnswerLanguage language = AnswerLanguage::zh;
};

// Blocks at once with on_match "block", with no console attached, or when no secret could
// approve (no vault, or a process that may not open it). Otherwise waits for the person:
// approved runs; refused or timed out is command_denied; every console gone is
// command_blocked; the service locked is app_locked; the caller gone or the service stopping
// is canceled.
[[nodiscard]] GateVerdict put_to_person(const BlockedCommand& blocked,
                                        const MatchedRequest& request, ServiceContext& context);

}  // namespace pendrel::desktop
