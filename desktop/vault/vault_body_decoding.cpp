// decode_vault_body: a strict reader of what vault_body_encoding writes.
#include <simdjson.h>
#include <sodium.h>

#include <array>
#include <cstring>
#include <functional>
#include <span>

#include "desktop/vault/contents_check.h"
#include "desktop/vault/vault_body.h"

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

Parsed<bool> read_bool(element value, std::string_view what) {
  bool flag = false;
  if (value.get_bool().get(flag) != simdjson::SUCCESS) {
    return std::unexpected(std::string(what) + " is not true or false");
  }
  return flag;
}

Parsed<std::uint64_t> read_unsigned(element value, std::uint64_t max, std::string_view what) {
  std::uint64_t number = 0;
  if (value.get_uint64().get(number) != simdjson::SUCCESS || number > max) {
    return std::unexpected(std::string(what) + " is not a whole number in 0.." +
                           std::to_string(max));
  }
  return number;
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

constexpr std::array<std::string_view, 12> host_members = {
    "address",           "port",           "username", "protocol", "cliAllowed", "legacyAlgorithms",
    "connectTimeoutSec", "maxDurationSec", "useAgent", "password", "privateKey", "keyPassphrase"};
// Every member but maxDurationSec and the three credentials.
constexpr std::uint32_t host_required = 0b0001'0111'1111;

Parsed<VaultHost> read_host(element value, const std::string& where) {
  auto members = read_object(value, where);
  if (!members) return std::unexpected(members.error());
  VaultHost host;
  auto handle = [&](std::size_t index, element member) -> Parsed<void> {
    const std::string what = where + " " + std::string(host_members[index]);
    if (index == 1 || index == 6 || index == 7) {
      auto number = read_unsigned(member, index == 1 ? 65535 : UINT32_MAX, what);
      if (!number) return std::unexpected(number.error());
      if (index == 1) host.port = static_cast<std::uint16_t>(*number);
      if (index == 6) host.connect_timeout_sec = static_cast<std::uint32_t>(*number);
      if (index == 7) host.max_duration_sec = static_cast<std::uint32_t>(*number);
      return {};
    }
    if (index == 4 || index == 5 || index == 8) {
      auto flag = read_bool(member, what);
      if (!flag) return std::unexpected(flag.error());
      if (index == 4) host.cli = *flag ? CliAccess::on : CliAccess::off;
      if (index == 5) host.legacy_algorithms = *flag ? LegacyAlgorithms::on : LegacyAlgorithms::off;
      if (index == 8) host.agent = *flag ? AgentUse::on : AgentUse::off;
      return {};
    }
    auto text = read_string(member, what);
    if (!text) return std::unexpected(text.error());
    switch (index) {
      case 0:
        host.address = *text;
        break;
      case 2:
        host.username = *text;
        break;
      case 3:
        if (*text == "SSH") {
          host.protocol = HostProtocol::ssh;
        } else if (*text == "LOCAL") {
          host.protocol = HostProtocol::local;
        } else {
          return std::unexpected(what + " is neither \"SSH\" nor \"LOCAL\"");
        }
        break;
      case 9:
        host.credentials.password = SecretString::copy_of(*text);
        break;
      case 10:
        host.credentials.private_key = SecretString::copy_of(*text);
        break;
      default:
        host.credentials.key_passphrase = SecretString::copy_of(*text);
        break;
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
    auto list = read_array(member, what);
    if (!list) return std::unexpected(list.error());
    for (element item : *list) {
      if (index == 1) {
        auto fingerprint = read_string(item, what + " item");
        if (!fingerprint) return std::unexpected(fingerprint.error());
        keys.rejected_fingerprints.emplace_back(*fingerprint);
        continue;
      }
      auto fields = read_object(item, what + " item");
      if (!fields) return std::unexpected(fields.error());
      AcceptedHostKey& key = keys.accepted.emplace_back();
      std::string* targets[] = {&key.key_type, &key.blob_base64, &key.fingerprint};
      auto read_field = [&](std::size_t field, element text) -> Parsed<void> {
        auto got = read_string(text, what + " " + std::string(key_members[field]));
        if (!got) return std::unexpected(got.error());
        *targets[field] = *got;
        return {};
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

constexpr std::array<std::string_view, 6> top_members = {
    "hosts", "hostKeys", "externalCli", "idleLockMinutes", "approvalPinHash", "rules"};

Parsed<VaultContents> read_contents(element root) {
  auto members = read_object(root, "the body");
  if (!members) return std::unexpected(members.error());
  VaultContents contents;
  auto handle = [&](std::size_t index, element member) -> Parsed<void> {
    const std::string what(top_members[index]);
    if (index == 0 || index == 1) {
      auto entries = read_object(member, what);
      if (!entries) return std::unexpected(entries.error());
      for (auto entry : *entries) {
        const std::string name(entry.key);
        if ((index == 0 ? contents.hosts.contains(name) : contents.host_keys.contains(name))) {
          return std::unexpected("repeated entry " + in_quotes(name) + " in " + what);
        }
        if (index == 0) {
          auto host = read_host(entry.value, "host " + in_quotes(name));
          if (!host) return std::unexpected(host.error());
          contents.hosts.emplace(name, std::move(*host));
        } else {
          auto keys = read_known_host(entry.value, "host key entry " + in_quotes(name));
          if (!keys) return std::unexpected(keys.error());
          contents.host_keys.emplace(name, std::move(*keys));
        }
      }
      return {};
    }
    if (index == 2) {
      auto flag = read_bool(member, what);
      if (!flag) return std::unexpected(flag.error());
      contents.external_cli = *flag ? ExternalCli::on : ExternalCli::off;
      return {};
    }
    if (index == 3) {
      auto minutes = read_unsigned(member, UINT32_MAX, what);
      if (!minutes) return std::unexpected(minutes.error());
      contents.idle_lock_minutes = static_cast<std::uint32_t>(*minutes);
      return {};
    }
    auto text = read_string(member, what);
    if (!text) return std::unexpected(text.error());
    if (index == 4) {
      contents.approval_pin_hash = SecretString::copy_of(*text);
    } else {
      if (text->empty()) return std::unexpected("rules is empty");
      contents.rules_json = *text;
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
