// encode_vault_body: the member names and order here are the ones vault_body_decoding reads.
#include <sodium.h>

#include <cstring>

#include "desktop/broker/vault/body_writer.h"
#include "desktop/broker/vault/contents_check.h"
#include "desktop/broker/vault/vault_body.h"

namespace pendrel::desktop {
namespace {

void write_secret(BodyWriter& json, std::string_view name,
                  const std::optional<SecretString>& secret) {
  if (!secret) return;
  json.key(name);
  json.string(secret->view());
}

void write_credentials(BodyWriter& json, const HostCredentials& credentials) {
  write_secret(json, "password", credentials.password);
  write_secret(json, "privateKey", credentials.private_key);
  write_secret(json, "keyPassphrase", credentials.key_passphrase);
}

void write_cli_login(BodyWriter& json, const CliLogin& login) {
  json.key("cliLogin");
  json.begin_object();
  json.key("username");
  json.string(login.username);
  json.key("useAgent");
  json.boolean(login.agent == AgentUse::on);
  write_credentials(json, login.credentials);
  json.end_object();
}

void write_host(BodyWriter& json, const VaultHost& host) {
  json.begin_object();
  json.key("name");
  json.string(host.name);
  json.key("tags");
  json.begin_array();
  for (const std::string& tag : host.tags)
    json.string(tag);
  json.end_array();
  json.key("address");
  json.string(host.address);
  json.key("port");
  json.unsigned_integer(host.port);
  json.key("username");
  json.string(host.username);
  json.key("protocol");
  json.string(host.protocol == HostProtocol::local ? "LOCAL" : "SSH");
  json.key("cliAllowed");
  json.boolean(host.cli == CliAccess::on);
  json.key("legacyAlgorithms");
  json.boolean(host.legacy_algorithms == LegacyAlgorithms::on);
  json.key("connectTimeoutSec");
  json.unsigned_integer(host.connect_timeout_sec);
  if (host.max_duration_sec) {
    json.key("maxDurationSec");
    json.unsigned_integer(*host.max_duration_sec);
  }
  json.key("useAgent");
  json.boolean(host.agent == AgentUse::on);
  write_credentials(json, host.credentials);
  if (host.cli_login) write_cli_login(json, *host.cli_login);
  json.end_object();
}

void write_known_host(BodyWriter& json, const KnownHostKeys& keys) {
  json.begin_object();
  json.key("accepted");
  json.begin_array();
  for (const AcceptedHostKey& key : keys.accepted) {
    json.begin_object();
    json.key("type");
    json.string(key.key_type);
    json.key("key");
    json.string(key.blob_base64);
    json.key("fingerprint");
    json.string(key.fingerprint);
    json.end_object();
  }
  json.end_array();
  json.key("rejected");
  json.begin_array();
  for (const std::string& fingerprint : keys.rejected_fingerprints)
    json.string(fingerprint);
  json.end_array();
  json.end_object();
}

void write_contents(BodyWriter& json, const VaultContents& contents) {
  json.begin_object();
  json.key("hosts");
  json.begin_object();
  for (const auto& [id, host] : contents.hosts) {
    json.key(id);
    write_host(json, host);
  }
  json.end_object();
  json.key("hostKeys");
  json.begin_object();
  for (const auto& [endpoint, keys] : contents.host_keys) {
    json.key(endpoint);
    write_known_host(json, keys);
  }
  json.end_object();
  json.key("externalCli");
  json.boolean(contents.external_cli == ExternalCli::on);
  json.key("idleLockMinutes");
  json.unsigned_integer(contents.idle_lock_minutes);
  write_secret(json, "approvalPinHash", contents.approval_pin_hash);
  if (!contents.rules_json.empty()) {
    json.key("rules");
    json.string(contents.rules_json);
  }
  json.end_object();
}

}  // namespace

std::expected<SecretBytes, std::string> encode_vault_body(const VaultContents& contents) {
  if (auto checked = check_contents(contents); !checked) return std::unexpected(checked.error());
  BodyWriter measure(BodyWriter::Pass::measure, 0);
  write_contents(measure, contents);
  BodyWriter json(BodyWriter::Pass::write, measure.length());
  write_contents(json, contents);
  std::string& text = json.text();
  SecretBytes body = SecretBytes::copy_of(text);
  sodium_memzero(text.data(), text.size());
  return body;
}

}  // namespace pendrel::desktop
