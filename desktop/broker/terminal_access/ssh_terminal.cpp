#include "desktop/broker/terminal_access/ssh_terminal.h"

#include "desktop/shared/service/ssh_host_copy.h"
#include "protocol/error_code.h"

namespace pendrel::desktop {

std::expected<std::unique_ptr<TerminalBackend>, ErrorBody> open_ssh_terminal(
    ServiceContext& context, const HostRecord& host, WindowSize size, const std::string& term,
    ClientQuestions& questions) {
  auto copy = copy_ssh_host(context.vault, host.id);
  if (!copy)
    return std::unexpected(ErrorBody{std::string(info_for(ErrorCode::vault_locked).name),
                                     "run pendrel-desktop unlock"});
#ifdef PENDREL_REMOTE_SHELL
  questions.set_host(host.id);
  RemoteShellRequest request{copy->target, copy->credentials(), copy->keys, size,
                             term.empty() ? std::string("xterm-256color") : term};
  return open_remote_shell(request, questions);
#else
  (void)size;
  (void)term;
  (void)questions;
  return std::unexpected(ErrorBody{std::string(info_for(ErrorCode::internal).name),
                                   "this build has no SSH terminals"});
#endif
}

}  // namespace pendrel::desktop
