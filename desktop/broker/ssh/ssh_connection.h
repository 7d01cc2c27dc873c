// Opening an SSH session that is ready for work: connected over our own socket, the host
// key checked before anything else is sent, logged in.
#pragma once

#include <expected>

#include "desktop/broker/ssh/libssh_handles.h"
#include "desktop/broker/ssh/ssh_target.h"
#include "protocol/messages.h"

namespace pendrel::desktop {

class LoginConversation;

// No user configuration is read and no system known-hosts file: only `target` and `keys`
// decide. Fails with credential_missing (nothing to log in with, checked before connecting),
// a key_* code (the stored key, also before connecting), bad_request (a username SSH refuses),
// connect_failed, algorithm_mismatch, a hostkey_* code, or an auth_* code.
[[nodiscard]] std::expected<OwnedSession, ErrorBody> open_ssh_session(
    const SshTarget& target, const SshCredentials& credentials, const TrustedHostKeys& keys);

// A new session channel on `session`; null when the server refuses it or the link broke
// (ssh_get_error says which).
[[nodiscard]] OwnedChannel open_session_channel(ssh_session session);

// As open_ssh_session, for a person at hand: a host key not yet trusted here (new, changed or
// once rejected) is put to `conversation`, and so is what the credentials cannot answer at the
// login (see authenticate). No credential at all is no failure: the person may type a password.
// A key the person does not trust fails as open_ssh_session does.
[[nodiscard]] std::expected<OwnedSession, ErrorBody> open_attended_ssh_session(
    const SshTarget& target, const SshCredentials& credentials, const TrustedHostKeys& keys,
    LoginConversation& conversation);

// Connects only as far as the key exchange and reports the server's host key, for a person
// to decide on; nothing is sent after the key exchange.
[[nodiscard]] std::expected<HostKeyFacts, ErrorBody> fetch_host_key(const SshTarget& target);

}  // namespace pendrel::desktop
