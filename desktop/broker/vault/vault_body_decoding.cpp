// decode_vault_body: a strict reader of what vault_body_encoding writes.
#include <simdjson.h>
#include <sodium.h>

#include <array>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <span>

#include "desktop/broker/vault/contents_check.h"
#include "desktop/broker/vault/vault_body.h"

namespace pendrel::desktop {
namespace {

using simdjson::dom::array;
using simdjson::dom::element;
using simdjson::dom::object;
template <class T>
using Parsed = std::expected<T, std::string>;

// simdjson keeps unescaped strings, secrets among them, in the document's string buffer. The
// document is sized for the body before parsing, so that buffer's size follows from the rule
// of document::allocate in simdjson 3, and it is wiped on every way out.
static_assert(simdjson::SIMDJSON_VERSION_MAJOR == 3,
              "check the string buffer size of document::allocate");
class DocumentWipe {
 public:
  DocumentWipe(simdjson::dom::document& document, std::size_t capacity)
      : document_(document), capacity_(capacity) {}
  DocumentWipe(const DocumentWipe&) = delete;
  DocumentWipe& operator=(const DocumentWipe&) = delete;
  ~DocumentWipe() {
    if (capacity_ == 0 || !document_.string_buf) return;
    const std::size_t unrounded = 5 * capacity_ / 3 + simdjson::SIMDJSON_PADDING;
    sodium_memzero(document_.string_buf.get(), (unrounded + 63) / 64 * 64);
  }

 private:
  simdjson::dom::document& document_;
  std::size_t capacity_;
};

std::string in_quotes(std::string_view text) {
  return "'" + std::string(text) + "'";
}

Parsed<std::string_view> read_string(element value, std::string_view what) {
  std::string_view text;
  if (value.get_string().get(text) != simdjson::SUCCESS) {
    return std::unexpected(std::string(what) + " is not a string");
  }
  return text;
}

Parsed<void> read_text_into(element value, std::string_view what, std::string& out) {
  auto text = read_string(value, what);
  if (!text) return std::unexpected(text.error());
  out = *text;
  return {};
}

// Straight from the parser's (wiped) buffer into guarded memory.
Parsed<void> read_secret_into(element value, std::string_view what,
                              std::optional<SecretString>& out) {
  auto text = read_string(value, what);
  if (!text) return std::unexpected(text.error());
  out = SecretString::copy_of(*text);
  return {};
}

// A JSON boolean into one of the on/off enums.
template <class Switch>
Parsed<void> read_switch_into(element value, std::string_view what, Switch& out) {
  bool flag = false;
  if (value.get_bool().get(flag) != simdjson::SUCCESS) {
    return std::unexpected(std::string(what) + " is not true or false");
  }
  out = flag ? Switch::on : Switch::off;
  return {};
}

template <class Number>
Parsed<void> read_number_into(element value, std::string_view what, Number& out) {
  constexpr std::uint64_t max = std::numeric_limits<Number>::max();
  std::uint64_t number = 0;
  if (value.get_uint64().get(number) != simdjson::SUCCESS || number > max) {
    return std::unexpected(std::string(what) + " is not a whole number in 0.." +
                           std::to_string(max));
  }
  out = static_cast<Number>(number);
  return {};
}

template <class Number>
Parsed<void> read_number_into(element value, std::string_view what, std::optional<Number>& out) {
  Number number{};
  if (auto read = read_number_into(value, what, number); !read) return read;
  out = number;
  return {};
}

Parsed<object> read_object(element value, std::string_view what) {
  object result;
  if (value.get_object().get(result) != simdjson::SUCCESS) {
    return std::unexpected(std::string(what) + " is not an object");
  }
  return result;
}

Parsed<array> read_array(element value, std::string_view what) {
  array result;
  if (value.get_array().get(result) != simdjson::SUCCESS) {
    return std::unexpected(std::string(what) + " is not an array");
  }
  return result;
}

Parsed<void> read_strings_into(element value, const std::string& what,
                               std::vector<std::string>& out) {
  auto list = read_array(value, what);
  if (!list) return std::unexpected(list.error());
  for (element item : *list) {
    if (auto read = read_text_into(item, what + " item", out.emplace_back()); !read) return read;
  }
  return {};
}

// Walks an object whose members are all among `names`, each at most once, calling `handle` with
// the member's index; the members flagged in `required` (bit i for names[i]) must be present.
Parsed<void> read_members(object members, std::span<const std::string_view> names,
                          std::uint32_t required, std::string_view where,
                          const std::function<Parsed<void>(std::size_t, element)>& handle) {
  std::uint32_t seen = 0;
  for (auto member : members) {
    std::size_t index = 0;
    while (index < names.size() && names[index] != member.key)
      ++index;
    if (index == names.size()) {
      return std::unexpected("unknown member " + in_quotes(member.key) + " in " +
                             std::string(where));
    }
    const std::uint32_t bit = 1U << index;
    if ((seen & bit) != 0) {
      return std::unexpected("repeated member " + in_quotes(member.key) + " in " +
                             std::string(where));
    }
    seen |= bit;
    if (auto handled = handle(index, member.value); !handled) return handled;
  }
  for (std::size_t index = 0; index < names.size(); ++index) {
    if ((required & ~seen & (1U << index)) != 0) {
      return std::unexpected("missing member " + in_quotes(names[index]) + " in " +
                             std::string(where));
    }
  }
  return {};
}

enum HostMember : std::size_t {
  host_name,
  host_tags,
  host_address,
  host_port,
  host_username,
  host_protocol,
  host_cli_allowed,
  host_legacy_algorithms,
  host_connect_timeout,
  host_max_duration,
  host_use_agent,
  host_password,
  host_private_key,
  host_key_passphrase,
  host_cli_login,
};
constexpr std::array<std::string_view, 15> host_members = {"name",
                                                           "tags",
                                                           "address",
                                                           "port",
                                                           "username",
                                                           "protocol",
                                                           "cliAllowed",
                                                           "legacyAlgorithms",
                                                           "connectTimeoutSec",
                                                           "maxDurationSec",
                                                           "useAgent",
                                                           "password",
                                                           "privateKey",
                                                           "keyPassphrase",
                                                           "cliLogin"};
// Every member but maxDurationSec, the three credentials and the command-line login (which
// bodies written before it existed lack).
constexpr std::uint32_t host_required = 0b0000'0101'1111'1111;

Parsed<void> read_protocol_into(element value, std::string_view what, HostProtocol& out) {
  auto text = read_string(value, what);
  if (!text) return std::unexpected(text.error());
  if (*text == "SSH") {
    out = HostProtocol::ssh;
  } else if (*text == "LOCAL") {
    out = HostProtocol::local;
  } else {
    return std::unexpected(std::string(what) + " is neither \"SSH\" nor \"LOCAL\"");
  }
  return {};
}

enum CliLoginMember : std::size_t {
  cli_username,
  cli_use_agent,
  cli_password,
  cli_private_key,
  cli_key_passphrase,
};
constexpr std::array<std::string_view, 5> cli_login_members = {"username", "useAgent", "password",
                                                               "privateKey", "keyPassphrase"};
constexpr std::uint32_t cli_login_required = 0b00011;

Parsed<void> read_cli_login_into(element value, const std::string& where,
                                 std::optional<CliLogin>& out) {
  auto members = read_object(value, where);
  if (!members) return std::unexpected(members.error());
  CliLogin& login = out.emplace();
  HostCredentials& credentials = login.credentials;
  auto handle = [&](std::size_t index, element member) -> Parsed<void> {
    const std::string what = where + " " + std::string(cli_login_members[index]);
    switch (static_cast<CliLoginMember>(index)) {
      case cli_username:
        return read_text_into(member, what, login.username);
      case cli_use_agent:
        return read_switch_into(member, what, login.agent);
      case cli_password:
        return read_secret_into(member, what, credentials.password);
      case cli_private_key:
        return read_secret_into(member, what, credentials.private_key);
      case cli_key_passphrase:
        return read_secret_into(member, what, credentials.key_passphrase);
    }
    return {};
  };
  return read_members(*members, cli_login_members, cli_login_required, where, handle);
}

Parsed<VaultHost> read_host(element value, const std::string& where) {
  auto members = read_object(value, where);
  if (!members) return std::unexpected(members.error());
  VaultHost host;
  HostCredentials& credentials = host.credentials;
  auto handle = [&](std::size_t index, element member) -> Parsed<void> {
    const std::string what = where + " " + std::string(host_members[index]);
    switch (static_cast<HostMember>(index)) {
      case host_name:
        return read_text_into(member, what, host.name);
      case host_tags:
        return read_strings_into(member, what, host.tags);
      case host_address:
        return read_text_into(member, what, host.address);
      case host_port:
        return read_number_into(member, what, host.port);
      case host_username:
        return read_text_into(member, what, host.username);
      case host_protocol:
        return read_protocol_into(member, what, host.protocol);
      case host_cli_allowed:
        return read_switch_into(member, what, host.cli);
      case host_legacy_algorithms:
        return read_switch_into(member, what, host.legacy_algorithms);
      case host_connect_timeout:
        return read_number_into(member, what, host.connect_timeout_sec);
      case host_max_duration:
        return read_number_into(member, what, host.max_duration_sec);
      case host_use_agent:
        return read_switch_into(member, what, host.agent);
      case host_password:
        return read_secret_into(member, what, credentials.password);
      case host_private_key:
        return read_secret_into(member, what, credentials.private_key);
      case host_key_passphrase:
        return read_secret_into(member, what, credentials.key_passphrase);
      case host_cli_login:
        return read_cli_login_into(member, what, host.cli_login);
    }
    return {};
  };
  if (auto read = read_members(*members, host_members, host_required, where, handle); !read) {
    return std::unexpected(read.error());
  }
  return host;
}

constexpr std::array<std::string_view, 3> key_members = {"type", "key", "fingerprint"};

Parsed<KnownHostKeys> read_known_host(element value, const std::string& where) {
  auto members = read_object(value, where);
  if (!members) return std::unexpected(members.error());
  KnownHostKeys keys;
  constexpr std::array<std::string_view, 2> names = {"accepted", "rejected"};
  auto handle = [&](std::size_t index, element member) -> Parsed<void> {
    const std::string what = where + " " + std::string(names[index]);
    if (index == 1) return read_strings_into(member, what, keys.rejected_fingerprints);
    auto list = read_array(member, what);
    if (!list) return std::unexpected(list.error());
    for (element item : *list) {
      auto fields = read_object(item, what + " item");
      if (!fields) return std::unexpected(fields.error());
      AcceptedHostKey& key = keys.accepted.emplace_back();
      std::string* targets[] = {&key.key_type, &key.blob_base64, &key.fingerprint};
      auto read_field = [&](std::size_t field, element text) -> Parsed<void> {
        return read_text_into(text, what + " " + std::string(key_members[field]), *targets[field]);
      };
      if (auto read = read_members(*fields, key_members, 0b111, what + " item", read_field);
          !read) {
        return read;
      }
    }
    return {};
  };
  if (auto read = read_members(*members, names, 0b11, where, handle); !read) {
    return std::unexpected(read.error());
  }
  return keys;
}

enum TopMember : std::size_t {
  top_hosts,
  top_host_keys,
  top_external_cli,
  top_idle_lock,
  top_approval_pin,
  top_rules,
};
constexpr std::array<std::string_view, 6> top_members = {
    "hosts", "hostKeys", "externalCli", "idleLockMinutes", "approvalPinHash", "rules"};

// The entries of "hosts" or "hostKeys": an object keyed by id or endpoint, each key once.
template <class Entry, class ReadEntry>
Parsed<void> read_entries_into(element value, const std::string& what, std::string_view entry_kind,
                               std::map<std::string, Entry>& out, ReadEntry read_entry) {
  auto entries = read_object(value, what);
  if (!entries) return std::unexpected(entries.error());
  for (auto entry : *entries) {
    const std::string name(entry.key);
    if (out.contains(name)) {
      return std::unexpected("repeated entry " + in_quotes(name) + " in " + what);
    }
    auto read = read_entry(entry.value, std::string(entry_kind) + " " + in_quotes(name));
    if (!read) return std::unexpected(read.error());
    out.emplace(name, std::move(*read));
  }
  return {};
}

Parsed<VaultContents> read_contents(element root) {
  auto members = read_object(root, "the body");
  if (!members) return std::unexpected(members.error());
  VaultContents contents;
  auto handle = [&](std::size_t index, element member) -> Parsed<void> {
    const std::string what(top_members[index]);
    switch (static_cast<TopMember>(index)) {
      case top_hosts:
        return read_entries_into(member, what, "host", contents.hosts, read_host);
      case top_host_keys:
        return read_entries_into(member, what, "host key entry", contents.host_keys,
                                 read_known_host);
      case top_external_cli:
        return read_switch_into(member, what, contents.external_cli);
      case top_idle_lock:
        return read_number_into(member, what, contents.idle_lock_minutes);
      case top_approval_pin:
        return read_secret_into(member, what, contents.approval_pin_hash);
      case top_rules: {
        auto read = read_text_into(member, what, contents.rules_json);
        // The writer leaves the member out when there are no rules.
        if (read && contents.rules_json.empty()) return std::unexpected("rules is empty");
        return read;
      }
    }
    return {};
  };
  if (auto read = read_members(*members, top_members, 0b1111, "the body", handle); !read) {
    return std::unexpected(read.error());
  }
  return contents;
}

}  // namespace

std::expected<VaultContents, std::string> decode_vault_body(const SecretBytes& text) {
  if (text.empty()) return std::unexpected("the body is empty");
  // The parser reads up to SIMDJSON_PADDING bytes past the end; give it guarded room for that.
  SecretBytes padded(text.size() + simdjson::SIMDJSON_PADDING);
  std::memcpy(padded.data(), text.data(), text.size());
  simdjson::dom::document document;
  if (document.allocate(text.size()) != simdjson::SUCCESS) {
    return std::unexpected("no memory to read the body");
  }
  DocumentWipe wipe(document, text.size());
  simdjson::dom::parser parser;
  element root;
  if (auto error =
          parser.parse_into_document(document, padded.data(), text.size(), false).get(root)) {
    return std::unexpected(std::string("the body is not valid JSON: ") +
                           simdjson::error_message(error));
  }
  auto contents = read_contents(root);
  if (!contents) return contents;
  if (auto checked = check_contents(*contents); !checked) {
    return std::unexpected(checked.error());
  }
  return contents;
}

}  // namespace pendrel::desktop
