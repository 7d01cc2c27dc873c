// What one SSH request needs besides its command or paths: where to connect, what to log in
// with, and which host keys the person accepted or rejected for that address and port.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "desktop/shared/store/host_record.h"

namespace pendrel::desktop {

enum class UseAgent { no, yes };

// Which of a host's logins a connection is made with: the person's own, or the second one the
// person set for pendrel's requests. A connection logged in with one never serves the other.
enum class HostLogin { person, command_line };

struct SshTarget {
  std::string address;  // a name or a literal address
  std::uint16_t port = 22;
  std::string username;
  // On: the older key exchanges, host-key types, ciphers and MACs follow the modern ones.
  LegacyAlgorithms legacy = LegacyAlgorithms::off;
  // Bounds name resolution's aftermath, TCP connect, banner and key exchange together.
  std::chrono::milliseconds connect_timeout{10'000};
  // A command (or transfer) still running after this long is ended as if canceled.
  std::optional<std::chrono::seconds> max_duration;
  // A link over which the host sends nothing for about this long is taken as dead and the
  // request ends with connect_failed; a send the host does not acknowledge fails as soon.
  std::chrono::milliseconds dead_link_after{60'000};
  // How long a logged-in connection may wait idle for the next request to this host (where the
  // caller keeps warm connections at all); 0 ends it with its request.
  std::chrono::milliseconds keep_warm_for{60'000};
};

// A secret is only looked at, never kept: the caller owns the memory (and wipes it).
using SecretView = std::string_view;

struct SshCredentials {
  std::optional<SecretView> private_key;  // the key file's text (OpenSSH, PEM or PKCS#8)
  std::optional<SecretView> key_passphrase;
  std::optional<SecretView> password;
  UseAgent agent = UseAgent::no;  // the service's own SSH_AUTH_SOCK
};

struct TrustedHostKeys {
  // Accepted keys as "type base64" lines (for example "ssh-ed25519 AAAAC3Nz…").
  std::vector<std::string> accepted;
  // Fingerprints the person refused, "SHA256:…".
  std::vector<std::string> rejected_fingerprints;
};

// The server's host key as shown to a person who decides whether to trust it.
struct HostKeyFacts {
  std::string type;         // "ssh-ed25519"
  std::string fingerprint;  // "SHA256:…"
  std::string line;         // "ssh-ed25519 AAAA…", the form TrustedHostKeys::accepted takes
};

}  // namespace pendrel::desktop
