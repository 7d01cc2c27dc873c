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

class LoginConversation;

// True for a prompt that asks for the account's own password ("Password:", "bob@web's
// password: ", "Password for bob@web:") with echo off; false for one-time codes, tokens, PINs,
// new passwords and anything unrecognised, so the stored password is never sent to them.
[[nodiscard]] bool is_password_prompt(std::string_view prompt, bool echo);

// Tries, in order and as far as the server offers them: `key` (already imported, may be null),
// the agent when allowed, the password, keyboard-interactive. All refused is auth_failed (the
// methods tried and the server's list in the message); a second factor or a prompt that cannot
// be answered is auth_interaction_required; a broken connection or a server too slow to
// answer is connect_failed.
// With a `person` at hand, what the credentials cannot answer goes to them instead: a
// keyboard-interactive round with any other question (or a password prompt with no stored
// password, or after the stored one was refused), then the password method's password. A
// person gets three tries in all; one who gives up is auth_interaction_required. Their answers
// go to the server only and are wiped here.
[[nodiscard]] std::expected<void, ErrorBody> authenticate(ssh_session session, ssh_key key,
                                                          const SshCredentials& credentials,
                                                          const std::string& username,
                                                          LoginConversation* person = nullptr);

}  // namespace pendrel::desktop
