// VaultContents: everything the vault keeps under its key, as typed values.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "desktop/broker/vault/secret_bytes.h"
#include "desktop/shared/store/host_record.h"
#include "desktop/shared/store/settings.h"

namespace pendrel::desktop {

enum class AgentUse { off, on };

// What a host is allowed to receive. Each secret is optional; an absent one is never sent.
struct HostCredentials {
  std::optional<SecretString> password;
  std::optional<SecretString> private_key;  // the key file's text, OpenSSH or PEM
  std::optional<SecretString> key_passphrase;
};

// A second login that pendrel's requests (exec, upload, download) use instead of the person's,
// so that agents work under an account of their own, usually a less privileged one; the
// person's login stays for the person's terminals.
struct CliLogin {
  std::string username;  // not empty
  AgentUse agent = AgentUse::off;
  HostCredentials credentials;
};

// A host as far as it decides where a secret goes, and all that the plain hosts file repeats
// for listing while the vault is locked (that file is rewritten from here and must agree).
struct VaultHost {
  std::string name;
  std::vector<std::string> tags;
  std::string address;
  std::uint16_t port = 22;  // 1..65535
  std::string username;
  HostProtocol protocol = HostProtocol::ssh;
  CliAccess cli = CliAccess::off;
  LegacyAlgorithms legacy_algorithms = LegacyAlgorithms::off;
  std::uint32_t connect_timeout_sec = default_connect_timeout_sec;  // 1..3600
  std::optional<std::uint32_t> max_duration_sec;                    // >= 1 when present
  AgentUse agent = AgentUse::off;
  HostCredentials credentials;
  std::optional<CliLogin> cli_login;  // SSH hosts only
};

// One host key a person accepted.
struct AcceptedHostKey {
  std::string key_type;     // "ssh-ed25519", "ecdsa-sha2-nistp256", ...
  std::string blob_base64;  // the public key blob, base64 as in known_hosts
  std::string fingerprint;  // "SHA256:..." as OpenSSH prints it
};

// The keys known for one "address:port".
struct KnownHostKeys {
  std::vector<AcceptedHostKey> accepted;
  std::vector<std::string> rejected_fingerprints;  // "SHA256:..."
};

// The key of VaultContents::host_keys for a host's address and port: "address:port".
[[nodiscard]] inline std::string host_key_entry(const std::string& address, std::uint16_t port) {
  return address + ":" + std::to_string(port);
}

struct VaultContents {
  std::map<std::string, VaultHost> hosts;          // by host id; ids are not empty
  std::map<std::string, KnownHostKeys> host_keys;  // by "address:port"
  ExternalCli external_cli = ExternalCli::on;
  std::uint32_t idle_lock_minutes = 60;  // 0 never locks on idleness; at most 525600 (a year)
  // crypto_pwhash_str of the console's approval PIN; absent when no PIN is set.
  std::optional<SecretString> approval_pin_hash;
  // The dangerous-command rule settings as JSON text, owned by the rules; empty when none are
  // stored. Must be one valid JSON value when not empty.
  std::string rules_json;
};

}  // namespace pendrel::desktop
