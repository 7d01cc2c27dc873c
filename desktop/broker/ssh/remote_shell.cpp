#include "desktop/broker/ssh/remote_shell.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "desktop/broker/ssh/ssh_connection.h"
#include "desktop/broker/ssh/ssh_error.h"
#include "desktop/broker/ssh/ssh_shell_backend.h"

namespace pendrel::desktop {
namespace {

// A terminal type names a terminfo entry ("xterm-256color", "screen.linux"); the server puts
// it in the shell's environment, so nothing else gets through.
constexpr std::size_t max_term_bytes = 64;

bool is_terminal_type(std::string_view term) {
  return !term.empty() && term.size() <= max_term_bytes &&
         std::all_of(term.begin(), term.end(), [](char c) {
           return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.' ||
                  c == '+';
         });
}

ErrorBody shell_refused(ssh_session session, std::string_view what) {
  return ssh_failure(ErrorCode::connect_failed, "the server refused " + std::string(what) + ": " +
                                                    server_text(ssh_get_error(session), 300));
}

}  // namespace

std::expected<std::unique_ptr<TerminalBackend>, ErrorBody> open_remote_shell(
    const RemoteShellRequest& request, LoginConversation& conversation) {
  if (!is_terminal_type(request.term)) {
    return std::unexpected(ssh_failure(
        ErrorCode::bad_request, "\"" + server_text(request.term, max_term_bytes) +
                                    "\" is not a terminal type (letters, digits and -_.+ only)"));
  }
  auto session =
      open_attended_ssh_session(request.target, request.credentials, request.keys, conversation);
  if (!session) return std::unexpected(session.error());
  OwnedChannel channel = open_session_channel(session->get());
  if (!channel) return std::unexpected(shell_refused(session->get(), "a session channel"));
  if (ssh_channel_request_pty_size(channel.get(), request.term.c_str(), request.size.columns,
                                   request.size.rows) != SSH_OK) {
    return std::unexpected(shell_refused(session->get(), "a terminal (pty)"));
  }
  if (ssh_channel_request_shell(channel.get()) != SSH_OK) {
    return std::unexpected(shell_refused(session->get(), "a login shell"));
  }
  return start_ssh_shell_backend(std::move(*session), std::move(channel),
                                 ShellLink{request.target.address, request.target.dead_link_after});
}

}  // namespace pendrel::desktop
