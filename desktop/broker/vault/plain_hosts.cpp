#include "desktop/broker/vault/plain_hosts.h"

#include "protocol/lexical_path.h"

namespace pendrel::desktop {

std::string vault_path(const std::string& data_dir) {
  return join_path(data_dir, vault_file_name);
}

std::vector<HostRecord> plain_hosts_from(const VaultContents& contents) {
  std::vector<HostRecord> plain;
  for (const auto& [id, host] : contents.hosts) {
    HostRecord record;
    record.id = id;
    record.name = host.name;
    record.address = host.address;
    record.port = host.port;
    record.username = host.username;
    record.protocol = host.protocol;
    record.tags = host.tags;
    record.cli = host.cli;
    record.legacy_algorithms = host.legacy_algorithms;
    record.connect_timeout_sec = host.connect_timeout_sec;
    record.max_duration_sec = host.max_duration_sec;
    // Only that a way to log in is stored, for `host show`; never what it is.
    if (has_credential(host)) record.credential_ref = "vault";
    if (host.cli_login) record.cli_user = host.cli_login->username;
    plain.push_back(std::move(record));
  }
  return plain;
}

void copy_listing(const HostRecord& record, VaultHost& host) {
  host.name = record.name;
  host.tags = record.tags;
  host.address = record.address;
  host.port = record.port;
  host.username = record.username;
  host.protocol = record.protocol;
  host.cli = record.cli;
  host.legacy_algorithms = record.legacy_algorithms;
  host.connect_timeout_sec = record.connect_timeout_sec;
  host.max_duration_sec = record.max_duration_sec;
}

VaultContents contents_from_plain(const std::vector<HostRecord>& plain) {
  VaultContents contents;
  for (const auto& record : plain) {
    VaultHost host;
    copy_listing(record, host);
    contents.hosts.emplace(record.id, std::move(host));
  }
  return contents;
}

std::optional<std::string> plain_disagreement(const HostRecord& plain, const VaultHost& vault) {
  if (plain.address != vault.address) return "address";
  if (plain.port != vault.port) return "port";
  if (plain.username != vault.username) return "username";
  if (plain.protocol != vault.protocol) return "protocol";
  if (plain.cli != vault.cli) return "cli";
  if (plain.legacy_algorithms != vault.legacy_algorithms) return "legacy devices option";
  if (plain.connect_timeout_sec != vault.connect_timeout_sec) return "connect timeout";
  if (plain.max_duration_sec != vault.max_duration_sec) return "time limit";
  if (plain.cli_user != (vault.cli_login ? vault.cli_login->username : ""))
    return "command-line login";
  return std::nullopt;
}

namespace {

bool can_log_in(const HostCredentials& credentials, AgentUse agent) {
  return credentials.password || credentials.private_key || agent == AgentUse::on;
}

}  // namespace

bool has_credential(const VaultHost& host) {
  return can_log_in(host.credentials, host.agent);
}

bool requests_can_log_in(const VaultHost& host) {
  if (host.cli_login) return can_log_in(host.cli_login->credentials, host.cli_login->agent);
  return has_credential(host);
}

KdfStrength kdf_strength_for(const Environment& environment) {
  auto chosen = environment.get("PENDREL_DESKTOP_TEST_KDF");
  return chosen && *chosen == "interactive" ? KdfStrength::interactive : KdfStrength::moderate;
}

}  // namespace pendrel::desktop
