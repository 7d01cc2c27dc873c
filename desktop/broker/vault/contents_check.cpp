#include "desktop/broker/vault/contents_check.h"

#include <simdjson.h>

#include "protocol/utf8.h"

namespace pendrel::desktop {
namespace {

constexpr std::uint32_t max_idle_lock_minutes = 525600;

using Check = std::expected<void, std::string>;

Check check_text(std::string_view text, std::string_view what, std::string_view owner) {
  // The body is JSON, which holds UTF-8 only: other bytes would make the vault unreadable.
  if (!is_valid_utf8(text)) {
    return std::unexpected(std::string(what) + " of " + std::string(owner) + " is not UTF-8");
  }
  return {};
}

Check check_secret(const std::optional<SecretString>& secret, std::string_view what,
                   std::string_view owner) {
  if (!secret) return {};
  return check_text(secret->view(), what, owner);
}

Check check_credentials(const HostCredentials& credentials, std::string_view owner) {
  if (auto checked = check_secret(credentials.password, "the password", owner); !checked) {
    return checked;
  }
  if (auto checked = check_secret(credentials.private_key, "the private key", owner); !checked) {
    return checked;
  }
  return check_secret(credentials.key_passphrase, "the key passphrase", owner);
}

Check check_host(const std::string& id, const VaultHost& host) {
  const std::string owner = "host " + id;
  if (id.empty()) return std::unexpected("a host has an empty id");
  for (auto [text, what] : {std::pair{std::string_view(id), "the id"},
                            std::pair{std::string_view(host.name), "the name"},
                            std::pair{std::string_view(host.address), "the address"},
                            std::pair{std::string_view(host.username), "the username"}}) {
    if (auto checked = check_text(text, what, owner); !checked) return checked;
  }
  for (const std::string& tag : host.tags) {
    if (auto checked = check_text(tag, "a tag", owner); !checked) return checked;
  }
  if (host.protocol == HostProtocol::ssh && host.address.empty()) {
    return std::unexpected(owner + " has no address");
  }
  if (host.port == 0) return std::unexpected(owner + " has port 0");
  if (host.connect_timeout_sec == 0 || host.connect_timeout_sec > max_connect_timeout_sec) {
    return std::unexpected(owner + " has a connect timeout outside 1..3600 seconds");
  }
  if (host.max_duration_sec && *host.max_duration_sec == 0) {
    return std::unexpected(owner + " has a maximum duration of 0");
  }
  if (auto checked = check_credentials(host.credentials, owner); !checked) return checked;
  if (!host.cli_login) return {};
  const std::string cli_owner = "the command-line login of " + owner;
  if (host.protocol == HostProtocol::local)
    return std::unexpected(owner +
                           " is LOCAL, which runs as the person: it has no command-line login");
  if (host.cli_login->username.empty()) return std::unexpected(cli_owner + " has no user name");
  if (auto checked = check_text(host.cli_login->username, "the username", cli_owner); !checked)
    return checked;
  return check_credentials(host.cli_login->credentials, cli_owner);
}

Check check_known_host(const std::string& endpoint, const KnownHostKeys& keys) {
  const std::string owner = "host key entry " + endpoint;
  if (endpoint.empty()) return std::unexpected("a host key entry has an empty address");
  if (auto checked = check_text(endpoint, "the address", owner); !checked) return checked;
  for (const AcceptedHostKey& key : keys.accepted) {
    for (const std::string* field : {&key.key_type, &key.blob_base64, &key.fingerprint}) {
      if (field->empty())
        return std::unexpected(owner + " has an accepted key with an empty field");
      if (auto checked = check_text(*field, "an accepted key", owner); !checked) return checked;
    }
  }
  for (const std::string& fingerprint : keys.rejected_fingerprints) {
    if (fingerprint.empty()) return std::unexpected(owner + " has an empty rejected fingerprint");
    if (auto checked = check_text(fingerprint, "a rejected fingerprint", owner); !checked) {
      return checked;
    }
  }
  return {};
}

Check check_rules_json(const std::string& rules_json) {
  if (rules_json.empty()) return {};
  simdjson::padded_string padded(rules_json);
  simdjson::dom::parser parser;
  simdjson::dom::element ignored;
  if (parser.parse(padded).get(ignored) != simdjson::SUCCESS) {
    return std::unexpected("the rule settings are not valid JSON");
  }
  return {};
}

}  // namespace

std::expected<void, std::string> check_contents(const VaultContents& contents) {
  for (const auto& [id, host] : contents.hosts) {
    if (auto checked = check_host(id, host); !checked) return checked;
  }
  for (const auto& [endpoint, keys] : contents.host_keys) {
    if (auto checked = check_known_host(endpoint, keys); !checked) return checked;
  }
  if (contents.idle_lock_minutes > max_idle_lock_minutes) {
    return std::unexpected("the idle lock time exceeds a year");
  }
  if (contents.approval_pin_hash) {
    if (contents.approval_pin_hash->empty())
      return std::unexpected("the approval PIN hash is empty");
    if (auto checked = check_text(contents.approval_pin_hash->view(), "the hash", "the PIN");
        !checked) {
      return checked;
    }
  }
  return check_rules_json(contents.rules_json);
}

}  // namespace pendrel::desktop
