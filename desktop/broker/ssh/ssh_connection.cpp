#include "desktop/broker/ssh/ssh_connection.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "desktop/broker/ssh/algorithms.h"
#include "desktop/broker/ssh/authenticate.h"
#include "desktop/broker/ssh/host_key_check.h"
#include "desktop/broker/ssh/link_watch.h"
#include "desktop/broker/ssh/private_key.h"
#include "desktop/broker/ssh/remote_shell.h"
#include "desktop/broker/ssh/ssh_error.h"
#include "desktop/broker/ssh/tcp_connect.h"

namespace pendrel::desktop {
namespace {

using Clock = std::chrono::steady_clock;

// The login may wait on PAM's failure delay (about 3 s) and a slow server; a shorter budget
// makes libssh answer "again" in place of the server's refusal.
constexpr std::chrono::seconds login_budget{30};

std::string endpoint_of(const SshTarget& target) {
  return target.address + " port " + std::to_string(target.port);
}

ErrorBody internal_failure(ssh_session session, std::string_view what) {
  return ssh_failure(ErrorCode::internal, std::string(what) + ": " + ssh_get_error(session));
}

bool set_timeout(ssh_session session, std::chrono::milliseconds timeout) {
  if (timeout.count() < 1) timeout = std::chrono::milliseconds(1);
  long seconds = static_cast<long>(timeout.count() / 1000);
  long microseconds = static_cast<long>((timeout.count() % 1000) * 1000);
  return ssh_options_set(session, SSH_OPTIONS_TIMEOUT, &seconds) == SSH_OK &&
         ssh_options_set(session, SSH_OPTIONS_TIMEOUT_USEC, &microseconds) == SSH_OK;
}

std::expected<void, ErrorBody> set_options(ssh_session session, const SshTarget& target) {
  // A file an agent can write (~/.ssh/config) must not change how hosts are checked.
  bool process_config = false;
  unsigned int port = target.port;
  int no_delay = 1;
  int verbosity = SSH_LOG_NOLOG;
  if (ssh_options_set(session, SSH_OPTIONS_PROCESS_CONFIG, &process_config) != SSH_OK ||
      ssh_options_set(session, SSH_OPTIONS_HOST, target.address.c_str()) != SSH_OK ||
      ssh_options_set(session, SSH_OPTIONS_PORT, &port) != SSH_OK ||
      ssh_options_set(session, SSH_OPTIONS_KNOWNHOSTS, "/dev/null") != SSH_OK ||
      ssh_options_set(session, SSH_OPTIONS_GLOBAL_KNOWNHOSTS, "/dev/null") != SSH_OK ||
      ssh_options_set(session, SSH_OPTIONS_NODELAY, &no_delay) != SSH_OK ||
      ssh_options_set(session, SSH_OPTIONS_LOG_VERBOSITY, &verbosity) != SSH_OK) {
    return std::unexpected(internal_failure(session, "cannot configure the SSH session"));
  }
  if (ssh_options_set(session, SSH_OPTIONS_USER, target.username.c_str()) != SSH_OK) {
    return std::unexpected(ssh_failure(
        ErrorCode::bad_request, "the username \"" + target.username +
                                    "\" contains characters SSH does not allow; a person must "
                                    "correct the host's username"));
  }
  return {};
}

// A session past the key exchange, its host key not yet judged.
std::expected<OwnedSession, ErrorBody> connect_session(
    const SshTarget& target, const std::vector<std::string>& accepted_types) {
  const Clock::time_point deadline = Clock::now() + target.connect_timeout;
  OwnedSession session(ssh_new());
  if (!session) return std::unexpected(ssh_failure(ErrorCode::internal, "out of memory"));
  if (auto set = set_options(session.get(), target); !set) return std::unexpected(set.error());
  if (auto set = apply_algorithms(session.get(), target.legacy, accepted_types); !set) {
    return std::unexpected(set.error());
  }
  auto socket_fd =
      connect_tcp(target.address, target.port, target.connect_timeout, target.dead_link_after);
  if (!socket_fd) return std::unexpected(socket_fd.error());
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  if (!set_timeout(session.get(), left)) {
    return std::unexpected(internal_failure(session.get(), "cannot set the SSH timeout"));
  }
  // From here the session's owner closes the socket (see LibsshFree): ssh_connect takes it
  // over before it can fail for any reason but memory.
  socket_t handed_over = socket_fd->release();
  if (ssh_options_set(session.get(), SSH_OPTIONS_FD, &handed_over) != SSH_OK) {
    ::close(handed_over);
    return std::unexpected(internal_failure(session.get(), "cannot hand the socket to libssh"));
  }
  if (ssh_connect(session.get()) != SSH_OK) {
    std::string_view message = ssh_get_error(session.get());
    if (auto mismatch = algorithm_mismatch_from(message, target.legacy)) {
      return std::unexpected(*mismatch);
    }
    std::string cause = server_text(message, 300);
    if (message.starts_with("Timeout connecting")) {
      cause = "the server did not complete the SSH handshake within " +
              seconds_text(target.connect_timeout);
    }
    return std::unexpected(ssh_failure(ErrorCode::connect_failed,
                                       "cannot open SSH to " + endpoint_of(target) + ": " + cause +
                                           "; check that an SSH server listens there"));
  }
  return session;
}

bool has_credential(const SshCredentials& credentials) {
  return credentials.private_key || credentials.password || credentials.agent == UseAgent::yes;
}

// The host key check, with the person's word on a key not yet trusted when one is at hand.
std::expected<void, ErrorBody> judge_host_key(const HostKeyFacts& presented,
                                              const TrustedHostKeys& keys,
                                              const std::string& endpoint,
                                              LoginConversation* person) {
  auto trusted = check_host_key(presented, keys, endpoint);
  if (trusted || person == nullptr) return trusted;
  const std::string& code = trusted.error().code;
  if (code != info_for(ErrorCode::hostkey_unknown).name &&
      code != info_for(ErrorCode::hostkey_mismatch).name &&
      code != info_for(ErrorCode::hostkey_rejected).name) {
    return trusted;
  }
  std::optional<HostKeyFacts> previous;
  for (const std::string& line : keys.accepted) {
    previous = parse_host_key_line(line);
    if (previous) break;
  }
  if (person->trust_host_key(presented, previous)) return {};
  return trusted;
}

std::expected<OwnedSession, ErrorBody> open_session(const SshTarget& target,
                                                    const SshCredentials& credentials,
                                                    const TrustedHostKeys& keys,
                                                    LoginConversation* person) {
  if (person == nullptr && !has_credential(credentials)) {
    return std::unexpected(ssh_failure(
        ErrorCode::credential_missing,
        "no password, key or agent is set for this host; a person must add a credential"));
  }
  OwnedKey key;
  if (credentials.private_key) {
    auto imported = import_private_key(*credentials.private_key, credentials.key_passphrase);
    if (!imported) return std::unexpected(imported.error());
    key = std::move(*imported);
  }
  auto session = connect_session(target, accepted_key_types(keys));
  if (!session) return std::unexpected(session.error());
  auto presented = read_server_host_key(session->get());
  if (!presented) return std::unexpected(presented.error());
  if (auto trusted = judge_host_key(*presented, keys, endpoint_of(target), person); !trusted) {
    return std::unexpected(trusted.error());
  }
  if (!set_timeout(session->get(), login_budget)) {
    return std::unexpected(internal_failure(session->get(), "cannot set the SSH timeout"));
  }
  if (auto login = authenticate(session->get(), key.get(), credentials, target.username, person);
      !login) {
    return std::unexpected(login.error());
  }
  // Every later wait on the server (a channel, an SFTP answer, a keepalive) ends when the
  // link has been silent too long.
  if (!set_timeout(session->get(), server_wait_limit(target.dead_link_after))) {
    return std::unexpected(internal_failure(session->get(), "cannot set the SSH timeout"));
  }
  return session;
}

}  // namespace

std::expected<OwnedSession, ErrorBody> open_ssh_session(const SshTarget& target,
                                                        const SshCredentials& credentials,
                                                        const TrustedHostKeys& keys) {
  return open_session(target, credentials, keys, nullptr);
}

std::expected<OwnedSession, ErrorBody> open_attended_ssh_session(const SshTarget& target,
                                                                 const SshCredentials& credentials,
                                                                 const TrustedHostKeys& keys,
                                                                 LoginConversation& conversation) {
  return open_session(target, credentials, keys, &conversation);
}

OwnedChannel open_session_channel(ssh_session session) {
  OwnedChannel channel(ssh_channel_new(session));
  if (channel && ssh_channel_open_session(channel.get()) != SSH_OK) channel.reset();
  return channel;
}

std::expected<HostKeyFacts, ErrorBody> fetch_host_key(const SshTarget& target) {
  auto session = connect_session(target, {});
  if (!session) return std::unexpected(session.error());
  return read_server_host_key(session->get());
}

}  // namespace pendrel::desktop
