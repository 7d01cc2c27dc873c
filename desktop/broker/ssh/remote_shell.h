// An interactive login shell on an SSH host, for a person's terminal: a pty of the person's
// size and TERM, logged in with the vault's credentials first and then with what the person
// answers, kept alive, and seen by the terminal through a TerminalBackend.
#pragma once

#include <expected>
#include <memory>
#include <string>
#include <vector>

#include "desktop/broker/ssh/ssh_target.h"
#include "desktop/shared/terminal/terminal_backend.h"
#include "protocol/messages.h"

namespace pendrel::desktop {

// One keyboard-interactive prompt, or the account's password when the vault has none that
// works ("bob@web's password: " with echo off).
struct LoginPrompt {
  std::string text;
  bool echo = false;
};

// The person at the terminal that opens the shell. Answers go to the server only: never
// stored, never logged.
class LoginConversation {
 public:
  virtual ~LoginConversation() = default;
  // The server's name and instruction (either may be empty) with its prompts, answered in
  // order; nullopt when the person gives up (the opening then fails with
  // auth_interaction_required).
  [[nodiscard]] virtual std::optional<std::vector<std::string>> answer(
      const std::string& name, const std::string& instruction,
      const std::vector<LoginPrompt>& prompts) = 0;
  // A host key the vault does not hold yet, one that differs from the key it holds (`previous`
  // then has the stored key's facts), or one a person rejected before. True when the person
  // trusts `offered` here (with the master password, as `hostkey trust`); the caller then
  // stores it (and forgets an earlier rejection of it).
  [[nodiscard]] virtual bool trust_host_key(const HostKeyFacts& offered,
                                            const std::optional<HostKeyFacts>& previous) = 0;
};

struct RemoteShellRequest {
  // target.dead_link_after bounds how long the host may stay silent before the shell ends as
  // lost (keepalives keep a live but quiet host talking); max_duration does not apply.
  SshTarget target;
  SshCredentials credentials;
  TrustedHostKeys keys;
  WindowSize size;
  std::string term = "xterm-256color";
};

// Connects, checks the host key (asking `conversation` about a new or changed one), logs in
// (the vault's key, agent and password, then `conversation`), asks for a pty and starts the
// login shell. The shell's channel is driven by a thread of its own, which keeps the
// connection alive and ends a terminal whose host has gone away within about a minute. Fails
// with the codes exec fails with; a host key the person did not trust is hostkey_unknown,
// hostkey_mismatch or hostkey_rejected; a `term` that names no terminal type is bad_request.
[[nodiscard]] std::expected<std::unique_ptr<TerminalBackend>, ErrorBody> open_remote_shell(
    const RemoteShellRequest& request, LoginConversation& conversation);

}  // namespace pendrel::desktop
