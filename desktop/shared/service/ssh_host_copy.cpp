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

std::optional<SshHostCopy> copy_ssh_host(VaultKeeper& vault, const std::string& id, LoginFor use) {
  std::optional<SshHostCopy> copy;
  vault.with_ssh_host(id, [&](const VaultHost& host, const KnownHostKeys* known) {
    SshHostCopy& out = copy.emplace();
    out.target.address = host.address;
    out.target.port = host.port;
    out.target.legacy = host.legacy_algorithms;
    out.target.connect_timeout = std::chrono::seconds(host.connect_timeout_sec);
    if (host.max_duration_sec)
      out.target.max_duration = std::chrono::seconds(*host.max_duration_sec);
    const bool cli = use == LoginFor::requests && host.cli_login;
    const HostCredentials& secrets = cli ? host.cli_login->credentials : host.credentials;
    const AgentUse agent = cli ? host.cli_login->agent : host.agent;
    out.login = cli ? HostLogin::command_line : HostLogin::person;
    out.target.username = cli ? host.cli_login->username : host.username;
    out.password = copy_of(secrets.password);
    out.private_key = copy_of(secrets.private_key);
    out.key_passphrase = copy_of(secrets.key_passphrase);
    out.agent = agent == AgentUse::on ? UseAgent::yes : UseAgent::no;
    if (!known) return;
    for (const AcceptedHostKey& key : known->accepted)
      out.keys.accepted.push_back(key.key_type + " " + key.blob_base64);
    out.keys.rejected_fingerprints = known->rejected_fingerprints;
  });
  return copy;
}

bool has_cli_login(VaultKeeper& vault, const std::string& id) {
  bool found = false;
  vault.with_host(id, [&](const VaultHost& host) { found = host.cli_login.has_value(); });
  return found;
}

}  // namespace pendrel::desktop
