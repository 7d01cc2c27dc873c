// An SSH host's login shell for a terminal: the vault's target, credentials and host keys
// copied out as exec copies them, then the shell opened with the person at hand.
#pragma once

#include <expected>
#include <memory>
#include <string>

#include "desktop/broker/terminal_access/client_questions.h"
#include "desktop/shared/store/host_record.h"
#include "desktop/shared/terminal/terminal_backend.h"

namespace pendrel::desktop {

[[nodiscard]] std::expected<std::unique_ptr<TerminalBackend>, ErrorBody> open_ssh_terminal(
    ServiceContext& context, const HostRecord& host, WindowSize size, const std::string& term,
    ClientQuestions& questions);

}  // namespace pendrel::desktop
