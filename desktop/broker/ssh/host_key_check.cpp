#include "desktop/broker/ssh/host_key_check.h"

#include <algorithm>
#include "desktop/broker/ssh/libssh_handles.h"
#include "desktop/broker/ssh/ssh_error.h"

namespace pendrel::desktop {
namespace {

std::vector<std::string_view> words_of(std::string_view line) {
  std::vector<std::string_view> words;
  constexpr std::string_view blanks = " \t\r\n";
  for (;;) {
    auto start = line.find_first_not_of(blanks);
    if (start == std::string_view::npos) break;
    line.remove_prefix(start);
    auto end = line.find_first_of(blanks);
    words.push_back(line.substr(0, end));
    if (end == std::string_view::npos) break;
    line.remove_prefix(end);
  }
  return words;
}

std::optional<std::string> sha256_fingerprint(const ssh_key key) {
  unsigned char* hash = nullptr;
  size_t length = 0;
  if (ssh_get_publickey_hash(key, SSH_PUBLICKEY_HASH_SHA256, &hash, &length) != SSH_OK) {
    return std::nullopt;
  }
  char* text = ssh_get_fingerprint_hash(SSH_PUBLICKEY_HASH_SHA256, hash, length);
  ssh_clean_pubkey_hash(&hash);
  if (text == nullptr) return std::nullopt;
  std::string fingerprint(text);
  ssh_string_free_char(text);
  return fingerprint;
}

std::optional<HostKeyFacts> facts_of(const ssh_key key) {
  char* blob = nullptr;
  if (ssh_pki_export_pubkey_base64(key, &blob) != SSH_OK) return std::nullopt;
  std::string base64(blob);
  ssh_string_free_char(blob);
  auto fingerprint = sha256_fingerprint(key);
  const char* type = ssh_key_type_to_char(ssh_key_type(key));
  if (!fingerprint || type == nullptr) return std::nullopt;
  return HostKeyFacts{type, *fingerprint, std::string(type) + ' ' + base64};
}

}  // namespace

std::expected<HostKeyFacts, ErrorBody> read_server_host_key(ssh_session session) {
  ssh_key raw = nullptr;
  if (ssh_get_server_publickey(session, &raw) != SSH_OK) {
    return std::unexpected(
        ssh_failure(ErrorCode::internal,
                    std::string("cannot read the server's host key: ") + ssh_get_error(session)));
  }
  OwnedKey key(raw);
  auto facts = facts_of(key.get());
  if (!facts) {
    return std::unexpected(ssh_failure(ErrorCode::internal,
                                       "cannot compute the fingerprint of the server's host key"));
  }
  return *facts;
}

std::optional<HostKeyFacts> parse_host_key_line(std::string_view line) {
  const auto words = words_of(line);
  for (std::size_t at = 0; at + 1 < words.size() && at < 2; ++at) {
    const std::string type(words[at]);
    if (ssh_key_type_from_name(type.c_str()) == SSH_KEYTYPE_UNKNOWN) continue;
    const std::string blob(words[at + 1]);
    ssh_key raw = nullptr;
    if (ssh_pki_import_pubkey_base64(blob.c_str(), ssh_key_type_from_name(type.c_str()), &raw) !=
        SSH_OK) {
      return std::nullopt;
    }
    OwnedKey key(raw);
    return facts_of(key.get());
  }
  return std::nullopt;
}

std::vector<std::string> accepted_key_types(const TrustedHostKeys& keys) {
  std::vector<std::string> types;
  for (const std::string& line : keys.accepted) {
    if (auto facts = parse_host_key_line(line)) types.push_back(facts->type);
  }
  return types;
}

std::expected<void, ErrorBody> check_host_key(const HostKeyFacts& presented,
                                              const TrustedHostKeys& keys,
                                              const std::string& endpoint) {
  const auto& rejected = keys.rejected_fingerprints;
  if (std::find(rejected.begin(), rejected.end(), presented.fingerprint) != rejected.end()) {
    return std::unexpected(ssh_failure(
        ErrorCode::hostkey_rejected,
        "the host key of " + endpoint + " (" + presented.type + " " + presented.fingerprint +
            ") was rejected by a person; nothing is sent to this server until they trust it"));
  }
  std::vector<std::string> other_fingerprints;
  for (const std::string& line : keys.accepted) {
    auto accepted = parse_host_key_line(line);
    if (!accepted) continue;
    if (accepted->line == presented.line) return {};
    other_fingerprints.push_back(accepted->type + " " + accepted->fingerprint);
  }
  if (other_fingerprints.empty()) {
    return std::unexpected(
        ssh_failure(ErrorCode::hostkey_unknown,
                    "the host key of " + endpoint + " is not confirmed: " + presented.type + " " +
                        presented.fingerprint +
                        "; a person must compare it with the server's and accept it "
                        "(pendrel-desktop hostkey trust)"));
  }
  std::string accepted_text;
  for (const std::string& fingerprint : other_fingerprints) {
    if (!accepted_text.empty()) accepted_text += ", ";
    accepted_text += fingerprint;
  }
  return std::unexpected(ssh_failure(
      ErrorCode::hostkey_mismatch,
      "the host key of " + endpoint + " changed: the server shows " + presented.type + " " +
          presented.fingerprint + " but the accepted key is " + accepted_text +
          "; this may be an attack: stop, and let a person check the server before trusting "
          "the new key"));
}

}  // namespace pendrel::desktop
