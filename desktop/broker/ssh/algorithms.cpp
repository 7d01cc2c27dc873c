#include "desktop/broker/ssh/algorithms.h"

#include <array>
#include <utility>

#include "desktop/broker/ssh/ssh_error.h"

namespace pendrel::desktop {
namespace {

// libssh 0.10's defaults, without certificate host keys (a key is accepted by its own blob).
constexpr std::string_view default_key_exchange =
    "curve25519-sha256,curve25519-sha256@libssh.org,ecdh-sha2-nistp256,ecdh-sha2-nistp384,"
    "ecdh-sha2-nistp521,diffie-hellman-group18-sha512,diffie-hellman-group16-sha512,"
    "diffie-hellman-group-exchange-sha256,diffie-hellman-group14-sha256";
constexpr std::string_view default_host_keys =
    "ssh-ed25519,ecdsa-sha2-nistp521,ecdsa-sha2-nistp384,ecdsa-sha2-nistp256,"
    "sk-ssh-ed25519@openssh.com,sk-ecdsa-sha2-nistp256@openssh.com,rsa-sha2-512,rsa-sha2-256";
constexpr std::string_view default_ciphers =
    "chacha20-poly1305@openssh.com,aes256-gcm@openssh.com,aes128-gcm@openssh.com,aes256-ctr,"
    "aes192-ctr,aes128-ctr";
constexpr std::string_view default_macs =
    "hmac-sha2-256-etm@openssh.com,hmac-sha2-512-etm@openssh.com,hmac-sha2-256,hmac-sha2-512";

constexpr std::string_view legacy_key_exchange =
    ",diffie-hellman-group14-sha1,diffie-hellman-group-exchange-sha1,diffie-hellman-group1-sha1";
constexpr std::string_view legacy_host_keys = ",ssh-rsa";
constexpr std::string_view legacy_ciphers = ",aes256-cbc,aes192-cbc,aes128-cbc,3des-cbc";
constexpr std::string_view legacy_macs = ",hmac-sha1-etm@openssh.com,hmac-sha1";

std::vector<std::string_view> split_list(std::string_view list) {
  std::vector<std::string_view> names;
  while (!list.empty()) {
    auto comma = list.find(',');
    names.push_back(list.substr(0, comma));
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return names;
}

std::string with_legacy(std::string_view modern, std::string_view old, LegacyAlgorithms legacy) {
  std::string list(modern);
  if (legacy == LegacyAlgorithms::on) list += old;
  return list;
}

// The plain-language name of a negotiation step in libssh's message.
std::string_view method_name(std::string_view libssh_method) {
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 6> names{{
      {"kex algos", "key exchange"},
      {"server host key algo", "host key type"},
      {"encryption client->server", "cipher"},
      {"encryption server->client", "cipher"},
      {"mac algo client->server", "MAC"},
      {"mac algo server->client", "MAC"},
  }};
  for (const auto& [libssh_name, plain] : names) {
    if (libssh_name == libssh_method) return plain;
  }
  return libssh_method;
}

}  // namespace

std::string host_key_algorithms(LegacyAlgorithms legacy,
                                const std::vector<std::string>& accepted_types) {
  const std::string all = with_legacy(default_host_keys, legacy_host_keys, legacy);
  std::vector<std::string_view> preferred;
  for (const std::string& type : accepted_types) {
    if (type == "ssh-rsa") {
      // An RSA key verifies with SHA-2 signatures; SHA-1 only on a legacy device.
      preferred.insert(preferred.end(), {"rsa-sha2-512", "rsa-sha2-256"});
      if (legacy == LegacyAlgorithms::on) preferred.push_back("ssh-rsa");
    } else {
      preferred.push_back(type);
    }
  }
  std::vector<std::string_view> order;
  const std::vector<std::string_view> known = split_list(all);
  auto add = [&order, &known](std::string_view name) {
    bool offered = false;
    for (std::string_view candidate : known)
      offered = offered || candidate == name;
    for (std::string_view present : order)
      offered = offered && present != name;
    if (offered) order.push_back(name);
  };
  for (std::string_view name : preferred)
    add(name);
  for (std::string_view name : known)
    add(name);
  std::string list;
  for (std::string_view name : order) {
    if (!list.empty()) list += ',';
    list += name;
  }
  return list;
}

std::expected<void, ErrorBody> apply_algorithms(ssh_session session, LegacyAlgorithms legacy,
                                                const std::vector<std::string>& accepted_types) {
  const std::string key_exchange = with_legacy(default_key_exchange, legacy_key_exchange, legacy);
  const std::string host_keys = host_key_algorithms(legacy, accepted_types);
  const std::string user_keys = with_legacy(default_host_keys, legacy_host_keys, legacy);
  const std::string ciphers = with_legacy(default_ciphers, legacy_ciphers, legacy);
  const std::string macs = with_legacy(default_macs, legacy_macs, legacy);
  const std::array<std::pair<ssh_options_e, const std::string*>, 7> lists{{
      {SSH_OPTIONS_KEY_EXCHANGE, &key_exchange},
      {SSH_OPTIONS_HOSTKEYS, &host_keys},
      {SSH_OPTIONS_PUBLICKEY_ACCEPTED_TYPES, &user_keys},
      {SSH_OPTIONS_CIPHERS_C_S, &ciphers},
      {SSH_OPTIONS_CIPHERS_S_C, &ciphers},
      {SSH_OPTIONS_HMAC_C_S, &macs},
      {SSH_OPTIONS_HMAC_S_C, &macs},
  }};
  for (const auto& [option, list] : lists) {
    if (ssh_options_set(session, option, list->c_str()) != SSH_OK) {
      return std::unexpected(
          ssh_failure(ErrorCode::internal,
                      std::string("libssh refused an algorithm list: ") + ssh_get_error(session)));
    }
  }
  return {};
}

std::optional<ErrorBody> algorithm_mismatch_from(std::string_view libssh_message,
                                                 LegacyAlgorithms legacy) {
  constexpr std::string_view prefix = "kex error : no match for method ";
  if (!libssh_message.starts_with(prefix)) return std::nullopt;
  std::string_view rest = libssh_message.substr(prefix.size());
  const auto colon = rest.find(": server [");
  const std::string_view method = method_name(rest.substr(0, colon));
  std::string_view offered;
  if (colon != std::string_view::npos) {
    offered = rest.substr(colon + std::string_view(": server [").size());
    offered = offered.substr(0, offered.find(']'));
  }
  std::string message = "the server and this program share no " + std::string(method) +
                        " algorithm (the server offers: " + server_text(offered, 400) + ")";
  message += legacy == LegacyAlgorithms::on
                 ? "; even the legacy devices option does not cover them: update the server's "
                   "SSH configuration"
                 : "; if the host is an old device, turn on its legacy devices option "
                   "(pendrel-desktop host set HOST --legacy on)";
  return ssh_failure(ErrorCode::algorithm_mismatch, std::move(message));
}

}  // namespace pendrel::desktop
