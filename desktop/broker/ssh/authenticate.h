// Logging in on a connected session whose host key passed: the host's key, the agent, the
// password, then keyboard-interactive answering password prompts only.
#pragma once

#include <libssh/libssh.h>

#include <expected>
#include <string>
#include <string_view>

#include "desktop/broker/ssh/ssh_target.h"
#include "protocol/messages.h"

namespace pendrel::desktop {

// True for a prompt that asks for the account's own password ("Password:", "bob@web's
// password: ", "Password for bob@web:") with echo off; false for one-time codes, tokens, PINs,
// new passwords and anything unrecognised, so the stored password is never sent to them.
[[nodiscard]] bool is_password_prompt(std::string_view prompt, bool echo);

// Tries, in order and as far as the server offers them: `key` (already imported, may be null),
// the agent when allowed, the password, keyboard-interactive. All refused is auth_failed (the
// methods tried and the server's list in the message); a second factor or a prompt that cannot
// be answered is auth_interaction_required; a broken connection or a server too slow to
// answer is connect_failed.
[[nodiscard]] std::expected<void, ErrorBody> authenticate(ssh_session session, ssh_key key,
                                                          const SshCredentials& credentials,
                                                          const std::string& username);

}  // namespace pendrel::desktop
