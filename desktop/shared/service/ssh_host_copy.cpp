#include "desktop/shared/service/ssh_host_copy.h"

namespace pendrel::desktop {
namespace {

std::optional<SecretString> copy_of(const std::optional<SecretString>& secret) {
  if (!secret) return std::nullopt;
  return secret->clone();
}

std::optional<SecretView> view_of(const std::optional<SecretString>& secret) {
  if (!secret) return std::nullopt;
  return secret->view();
}

}  // namespace

SshCredentials SshHostCopy::credentials() const {
  SshCredentials credentials;
  credentials.private_key = view_of(private_key);
  credentials.key_passphrase = view_of(key_passphrase);
  credentials.password = view_of(password);
  credentials.agent = agent;
  return credentials;
}

std::optional<SshHostCopy> copy_ssh_host(VaultKeeper& vault, const std::string& id) {
  std::optional<SshHostCopy> copy;
  vault.with_ssh_host(id, [&](const VaultHost& host, const KnownHostKeys* known) {
    SshHostCopy& out = copy.emplace();
    out.target.address = host.address;
    out.target.port = host.port;
    out.target.username = host.username;
    out.target.legacy = host.legacy_algorithms;
    out.target.connect_timeout = std::chrono::seconds(host.connect_timeout_sec);
    if (host.max_duration_sec)
      out.target.max_duration = std::chrono::seconds(*host.max_duration_sec);
    out.password = copy_of(host.credentials.password);
    out.private_key = copy_of(host.credentials.private_key);
    out.key_passphrase = copy_of(host.credentials.key_passphrase);
    out.agent = host.agent == AgentUse::on ? UseAgent::yes : UseAgent::no;
    if (!known) return;
    for (const AcceptedHostKey& key : known->accepted)
      out.keys.accepted.push_back(key.key_type + " " + key.blob_base64);
    out.keys.rejected_fingerprints = known->rejected_fingerprints;
  });
  return copy;
}

}  // namespace pendrel::desktop
