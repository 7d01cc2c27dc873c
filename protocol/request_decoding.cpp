// Requests and the Hello from their JSON payload: simdjson's DOM validates the whole text
// (UTF-8 included), then every record is read strictly, naming the key path of a fault.
#include "protocol/request_decoding.h"

#include <simdjson.h>

#include <array>
#include <optional>
#include <utility>
#include <vector>

namespace pendrel {
namespace {

namespace dom = simdjson::dom;

template <typename T>
using Decoded = std::expected<T, std::string>;

// "`data.host`: expected a string"; a fault of the whole message names no key.
std::unexpected<std::string> fault(std::string_view where, std::string_view what) {
  if (where.empty()) return std::unexpected(std::string(what));
  return std::unexpected("`" + std::string(where) + "`: " + std::string(what));
}

std::string member_path(std::string_view where, std::string_view key) {
  return where.empty() ? std::string(key) : std::string(where) + "." + std::string(key);
}

std::string element_path(std::string_view where, std::size_t index) {
  return std::string(where) + "[" + std::to_string(index) + "]";
}

// The members of one object, each key present at most once.
class Members {
 public:
  static Decoded<Members> of(dom::element value, std::string where) {
    dom::object object;
    if (value.get_object().get(object)) return fault(where, "expected an object");
    Members members;
    members.where_ = std::move(where);
    for (dom::key_value_pair member : object) {
      for (const auto& seen : members.members_) {
        if (seen.first == member.key) return fault(members.path(member.key), "repeated key");
      }
      members.members_.emplace_back(member.key, member.value);
    }
    return members;
  }

  [[nodiscard]] std::optional<dom::element> find(std::string_view key) const {
    for (const auto& [name, value] : members_) {
      if (name == key) return value;
    }
    return std::nullopt;
  }
  [[nodiscard]] std::string path(std::string_view key) const { return member_path(where_, key); }

  // A required string, or with `absent` given an optional one.
  Decoded<std::string> text(std::string_view key,
                            std::optional<std::string_view> absent = std::nullopt) const {
    auto value = find(key);
    if (!value) {
      if (absent) return std::string(*absent);
      return fault(path(key), "missing");
    }
    std::string_view content;
    if (value->get_string().get(content)) return fault(path(key), "expected a string");
    return std::string(content);
  }

  // An optional boolean, false when absent.
  Decoded<bool> flag(std::string_view key) const {
    auto value = find(key);
    if (!value) return false;
    bool on = false;
    if (value->get_bool().get(on)) return fault(path(key), "expected true or false");
    return on;
  }

  // An array of strings; an empty list when absent and not `required`.
  Decoded<std::vector<std::string>> texts(std::string_view key, bool required) const {
    auto value = find(key);
    if (!value) {
      if (required) return fault(path(key), "missing");
      return std::vector<std::string>{};
    }
    dom::array array;
    if (value->get_array().get(array)) return fault(path(key), "expected an array of strings");
    std::vector<std::string> result;
    result.reserve(array.size());
    std::size_t index = 0;
    for (dom::element element : array) {
      std::string_view content;
      if (element.get_string().get(content)) {
        return fault(element_path(path(key), index), "expected a string");
      }
      result.emplace_back(content);
      ++index;
    }
    return result;
  }

  Decoded<std::uint64_t> unsigned_number(std::string_view key, std::uint64_t largest) const {
    auto value = find(key);
    if (!value) return fault(path(key), "missing");
    std::uint64_t number = 0;
    if (value->type() == dom::element_type::INT64 && value->get_int64().value_unsafe() >= 0) {
      number = static_cast<std::uint64_t>(value->get_int64().value_unsafe());
    } else if (value->type() == dom::element_type::UINT64) {
      number = value->get_uint64().value_unsafe();
    } else {
      return fault(path(key), "expected an unsigned integer");
    }
    if (number > largest) return fault(path(key), "out of range");
    return number;
  }

 private:
  std::string where_;
  std::vector<std::pair<std::string_view, dom::element>> members_;
};

// Unwraps a Decoded<T> into `into`, or returns its fault from the enclosing function.
#define PENDREL_TRY_ASSIGN(into, expression)                        \
  do {                                                              \
    auto pendrel_try_value = (expression);                          \
    if (!pendrel_try_value) {                                       \
      return std::unexpected(std::move(pendrel_try_value).error()); \
    }                                                               \
    (into) = std::move(*pendrel_try_value);                         \
  } while (false)

Decoded<Request> list_hosts(const Members& data) {
  ListHostsRequest request;
  PENDREL_TRY_ASSIGN(request.query, data.text("query", ""));
  return request;
}

Decoded<Request> exec(const Members& data) {
  ExecRequest request;
  PENDREL_TRY_ASSIGN(request.host, data.text("host"));
  PENDREL_TRY_ASSIGN(request.command, data.text("command"));
  bool terminal = false;
  PENDREL_TRY_ASSIGN(terminal, data.flag("terminal"));
  request.terminal = terminal ? TerminalMode::on : TerminalMode::off;
  PENDREL_TRY_ASSIGN(request.caller, data.texts("caller", false));
  return request;
}

template <typename TransferKind>
Decoded<Request> transfer(const Members& data) {
  TransferKind request;
  PENDREL_TRY_ASSIGN(request.host, data.text("host"));
  PENDREL_TRY_ASSIGN(request.local, data.text("local"));
  PENDREL_TRY_ASSIGN(request.remote, data.text("remote"));
  PENDREL_TRY_ASSIGN(request.caller, data.texts("caller", false));
  return request;
}

Decoded<ActivateFile> activate_file(dom::element value, const std::string& where) {
  Members file;
  PENDREL_TRY_ASSIGN(file, Members::of(value, where));
  ActivateFile result;
  PENDREL_TRY_ASSIGN(result.path, file.text("path"));
  auto bytes = file.find("data");
  if (!bytes) return fault(file.path("data"), "missing");
  dom::array array;
  if (bytes->get_array().get(array)) return fault(file.path("data"), "expected an array of bytes");
  result.data.reserve(array.size());
  std::size_t index = 0;
  for (dom::element element : array) {
    std::uint64_t byte = 0;
    if (element.get_uint64().get(byte) || byte > 255) {
      return fault(element_path(file.path("data"), index), "expected an integer from 0 to 255");
    }
    result.data.push_back(static_cast<std::uint8_t>(byte));
    ++index;
  }
  return result;
}

Decoded<Request> activate(const Members& data) {
  ActivateRequest request;
  PENDREL_TRY_ASSIGN(request.args, data.texts("args", true));
  auto files = data.find("files");
  if (!files) return request;
  dom::array array;
  if (files->get_array().get(array)) return fault(data.path("files"), "expected an array");
  std::size_t index = 0;
  for (dom::element element : array) {
    ActivateFile file;
    PENDREL_TRY_ASSIGN(file, activate_file(element, element_path(data.path("files"), index)));
    request.files.push_back(std::move(file));
    ++index;
  }
  return request;
}

using RecordDecoder = Decoded<Request> (*)(const Members&);

struct KindEntry {
  std::string_view name;
  RecordDecoder decode;  // nullptr: the kind has no record
};

constexpr std::array<KindEntry, 6> request_kinds = {{
    {"listHosts", list_hosts},
    {"exec", exec},
    {"upload", transfer<UploadRequest>},
    {"download", transfer<DownloadRequest>},
    {"activate", activate},
    {"quit", nullptr},
}};

// Parses the padded payload into `parser`, which owns the document the root points into.
Decoded<dom::element> parse_payload(dom::parser& parser, std::string_view payload) {
  if (payload.find_first_not_of(" \t\n\r") == std::string_view::npos) {
    return std::unexpected(std::string("empty message"));
  }
  dom::element root;
  if (auto error = parser.parse(payload.data(), payload.size(), false).get(root)) {
    return std::unexpected("not valid JSON: " + std::string(simdjson::error_message(error)));
  }
  return root;
}

Decoded<Request> request_from(dom::element root) {
  Members top;
  PENDREL_TRY_ASSIGN(top, Members::of(root, ""));
  std::string type;
  PENDREL_TRY_ASSIGN(type, top.text("type"));
  const KindEntry* kind = nullptr;
  for (const auto& entry : request_kinds) {
    if (entry.name == type) kind = &entry;
  }
  if (kind == nullptr) return fault("type", "unknown request kind \"" + type + "\"");
  auto data = top.find("data");
  if (kind->decode == nullptr) {
    if (data && !data->is_null()) return fault("data", "expected nothing");
    return QuitRequest{};
  }
  if (!data) return fault("data", "missing");
  Members record;
  PENDREL_TRY_ASSIGN(record, Members::of(*data, "data"));
  return kind->decode(record);
}

}  // namespace

std::expected<Request, std::string> decode_request(std::string_view payload) {
  dom::parser parser;
  auto root = parse_payload(parser, payload);
  if (!root) return std::unexpected(std::move(root).error());
  return request_from(*root);
}

std::expected<Hello, std::string> decode_hello(std::string_view payload) {
  dom::parser parser;
  auto root = parse_payload(parser, payload);
  if (!root) return std::unexpected(std::move(root).error());
  Members members;
  PENDREL_TRY_ASSIGN(members, Members::of(*root, ""));
  Hello hello;
  std::uint64_t protocol = 0;
  PENDREL_TRY_ASSIGN(protocol, members.unsigned_number("protocol", 0xFFFF'FFFFu));
  hello.protocol = static_cast<std::uint32_t>(protocol);
  PENDREL_TRY_ASSIGN(hello.client, members.text("client", ""));
  PENDREL_TRY_ASSIGN(hello.lang, members.text("lang", ""));
  return hello;
}

}  // namespace pendrel
