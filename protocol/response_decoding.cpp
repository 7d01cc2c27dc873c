// Answers from their JSON payload: simdjson's DOM validates the whole text, then the records are
// read from it with the adjacently tagged rules ("type" names the kind, "data" holds the record).
#include <simdjson.h>

#include <array>
#include <charconv>
#include <limits>
#include <memory>
#include <optional>

#include "protocol/json_fault_position.h"
#include "protocol/messages.h"
#include "protocol/response_decoding.h"

namespace pendrel {
namespace {

namespace dom = simdjson::dom;

constexpr std::string_view json_white_space = " \t\n\r";

struct Fault {
  std::string text;
  JsonPath path;
  FaultAnchor anchor = FaultAnchor::value_start;
};

template <typename T>
using Decoded = std::expected<T, Fault>;

// How an unexpected value is named in "invalid type: {}, expected {}".
std::string describe_value(dom::element value) {
  switch (value.type()) {
    case dom::element_type::OBJECT:
      return "map";
    case dom::element_type::ARRAY:
      return "sequence";
    case dom::element_type::STRING:
      return "string \"" + std::string(value.get_string().value_unsafe()) + "\"";
    case dom::element_type::INT64:
      return "integer `" + std::to_string(value.get_int64().value_unsafe()) + "`";
    case dom::element_type::UINT64:
      return "integer `" + std::to_string(value.get_uint64().value_unsafe()) + "`";
    case dom::element_type::DOUBLE: {
      char digits[32];
      auto [end, error] =
          std::to_chars(digits, digits + sizeof digits, value.get_double().value_unsafe());
      std::string number(digits, error == std::errc{} ? end : digits);
      if (number.find_first_of(".eEni") == std::string::npos) number += ".0";
      return "floating point `" + number + "`";
    }
    case dom::element_type::BOOL:
      return value.get_bool().value_unsafe() ? "boolean `true`" : "boolean `false`";
    case dom::element_type::NULL_VALUE:
      return "null";
  }
  return "value";
}

struct Field {
  std::string_view key;
  bool required = true;
};

constexpr std::array<std::string_view, 6> kind_names = {"welcome",  "hosts", "exec",
                                                        "transfer", "ok",    "error"};
enum class Kind { welcome, hosts, exec, transfer, ok, error };

// Whether a walk copies the strings out, or only checks them (a first walk over a large answer,
// after which the frame can be released before the copies are made).
enum class TextCopy { copy, check_only };

class Decoder {
 public:
  explicit Decoder(TextCopy copy) : copy_(copy) {}

  Decoded<Response> response(dom::element root) {
    dom::object object;
    if (root.get_object().get(object)) {
      return invalid_type(root, "adjacently tagged enum Response");
    }
    std::optional<Kind> kind;
    std::optional<std::pair<std::size_t, dom::element>> data;
    std::size_t position = 0;
    for (dom::key_value_pair member : object) {
      Step step(path_, position);
      if (member.key == "type") {
        if (kind) return fault("duplicate field `type`");
        auto named = kind_named(member.value);
        if (!named) return std::unexpected(named.error());
        kind = *named;
      } else if (member.key == "data") {
        if (data) return fault("duplicate field `data`");
        data.emplace(position, member.value);
      }
      ++position;
    }
    if (!kind) return fault("missing field `type`", FaultAnchor::object_end);
    if (*kind == Kind::ok) {
      if (!data || data->second.is_null()) return OkAnswer{};
      Step step(path_, data->first);
      return invalid_type(data->second, "unit");
    }
    if (!data) return fault("missing field `data`", FaultAnchor::object_end);
    Step step(path_, data->first);
    return record_of_kind(*kind, data->second);
  }

 private:
  // Keeps path_ naming the value being decoded, across early returns.
  class Step {
   public:
    Step(JsonPath& path, std::size_t position) : path_(path) { path_.push_back(position); }
    ~Step() { path_.pop_back(); }
    Step(const Step&) = delete;
    Step& operator=(const Step&) = delete;

   private:
    JsonPath& path_;
  };

  std::unexpected<Fault> fault(std::string text,
                               FaultAnchor anchor = FaultAnchor::value_start) const {
    return std::unexpected(Fault{std::move(text), path_, anchor});
  }
  std::unexpected<Fault> invalid_type(dom::element value, std::string_view expected) const {
    return fault("invalid type: " + describe_value(value) + ", expected " + std::string(expected));
  }

  Decoded<Kind> kind_named(dom::element value) const {
    std::string_view name;
    if (value.get_string().get(name)) return invalid_type(value, "variant identifier");
    for (std::size_t i = 0; i < kind_names.size(); ++i) {
      if (kind_names[i] == name) return static_cast<Kind>(i);
    }
    return fault("unknown variant `" + std::string(name) +
                 "`, expected one of `welcome`, `hosts`, `exec`, `transfer`, `ok`, `error`");
  }

  Decoded<Response> record_of_kind(Kind kind, dom::element data) {
    switch (kind) {
      case Kind::welcome:
        return welcome(data);
      case Kind::hosts:
        return hosts(data);
      case Kind::exec:
        return exec(data);
      case Kind::transfer:
        return transfer(data);
      case Kind::error:
        return error_body(data);
      case Kind::ok:
        break;
    }
    return OkAnswer{};
  }

  // Walks a record's members: unknown keys are skipped, a repeated key fails, and after the
  // walk every required key must have been seen. `read(index, value)` decodes one field.
  template <std::size_t N, typename ReadField>
  Decoded<void> read_record(dom::element record, std::string_view description,
                            const std::array<Field, N>& fields, ReadField read) {
    dom::object object;
    if (record.get_object().get(object)) return invalid_type(record, description);
    std::array<bool, N> seen{};
    std::size_t position = 0;
    for (dom::key_value_pair member : object) {
      Step step(path_, position);
      // Members mostly come in the order of `fields`, so that key is tried first.
      std::size_t i = position;
      if (i >= N || fields[i].key != member.key) {
        i = 0;
        while (i < N && fields[i].key != member.key)
          ++i;
      }
      ++position;
      if (i == N) continue;  // not a field of this record: skipped
      if (seen[i]) return fault("duplicate field `" + std::string(member.key) + "`");
      seen[i] = true;
      if (auto result = read(i, member.value); !result) return result;
    }
    for (std::size_t i = 0; i < N; ++i) {
      if (fields[i].required && !seen[i]) {
        return fault("missing field `" + std::string(fields[i].key) + "`", FaultAnchor::object_end);
      }
    }
    return {};
  }

  Decoded<void> text(dom::element value, std::string& into) const {
    std::string_view content;
    if (value.get_string().get(content)) return invalid_type(value, "a string");
    if (copy_ == TextCopy::copy) into.assign(content);
    return {};
  }

  Decoded<void> flag(dom::element value, bool& into) const {
    if (value.get_bool().get(into)) return invalid_type(value, "a boolean");
    return {};
  }

  template <typename T>
  Decoded<void> integer(dom::element value, std::string_view type_name, T& into) const {
    using limits = std::numeric_limits<T>;
    auto out_of_range = [&](std::string shown) {
      return fault("invalid value: integer `" + shown + "`, expected " + std::string(type_name));
    };
    if (value.type() == dom::element_type::INT64) {
      std::int64_t number = value.get_int64().value_unsafe();
      if (std::cmp_less(number, limits::min()) || std::cmp_greater(number, limits::max())) {
        return out_of_range(std::to_string(number));
      }
      into = static_cast<T>(number);
      return {};
    }
    if (value.type() == dom::element_type::UINT64) {
      std::uint64_t number = value.get_uint64().value_unsafe();
      if (std::cmp_greater(number, limits::max())) return out_of_range(std::to_string(number));
      into = static_cast<T>(number);
      return {};
    }
    return invalid_type(value, type_name);
  }

  Decoded<Response> welcome(dom::element data) {
    Welcome record;
    static constexpr std::array<Field, 2> fields = {{{"protocol"}, {"appVersion", false}}};
    auto result = read_record(data, "struct Welcome", fields, [&](std::size_t i, dom::element v) {
      return i == 0 ? integer(v, "u32", record.protocol) : text(v, record.app_version);
    });
    if (!result) return std::unexpected(result.error());
    return record;
  }

  Decoded<Response> hosts(dom::element data) {
    dom::array array;
    if (data.get_array().get(array)) return invalid_type(data, "a sequence");
    HostsAnswer answer;
    if (copy_ == TextCopy::copy) answer.hosts.reserve(array.size());
    std::size_t position = 0;
    for (dom::element element : array) {
      Step step(path_, position++);
      auto host = host_summary(element);
      if (!host) return std::unexpected(host.error());
      if (copy_ == TextCopy::copy) answer.hosts.push_back(std::move(*host));
    }
    return answer;
  }

  Decoded<HostSummary> host_summary(dom::element value) {
    HostSummary record;
    static constexpr std::array<Field, 6> fields = {
        {{"id"}, {"name"}, {"host"}, {"port"}, {"username"}, {"protocol"}}};
    auto result =
        read_record(value, "struct HostSummary", fields, [&](std::size_t i, dom::element v) {
          switch (i) {
            case 0:
              return text(v, record.id);
            case 1:
              return text(v, record.name);
            case 2:
              return text(v, record.host);
            case 3:
              return integer(v, "u16", record.port);
            case 4:
              return text(v, record.username);
            default:
              return text(v, record.protocol);
          }
        });
    if (!result) return std::unexpected(result.error());
    return record;
  }

  Decoded<Response> exec(dom::element data) {
    ExecResponse record;
    static constexpr std::array<Field, 5> fields = {
        {{"exitCode"}, {"stdout"}, {"stderr"}, {"truncated"}, {"durationMs"}}};
    auto result =
        read_record(data, "struct ExecResponse", fields, [&](std::size_t i, dom::element v) {
          switch (i) {
            case 0:
              return integer(v, "i32", record.exit_code);
            case 1:
              return text(v, record.stdout_text);
            case 2:
              return text(v, record.stderr_text);
            case 3:
              return flag(v, record.truncated);
            default:
              return integer(v, "u64", record.duration_ms);
          }
        });
    if (!result) return std::unexpected(result.error());
    return record;
  }

  Decoded<Response> transfer(dom::element data) {
    TransferResponse record;
    static constexpr std::array<Field, 4> fields = {
        {{"local"}, {"remote"}, {"bytes"}, {"durationMs"}}};
    auto result =
        read_record(data, "struct TransferResponse", fields, [&](std::size_t i, dom::element v) {
          switch (i) {
            case 0:
              return text(v, record.local);
            case 1:
              return text(v, record.remote);
            case 2:
              return integer(v, "u64", record.bytes);
            default:
              return integer(v, "u64", record.duration_ms);
          }
        });
    if (!result) return std::unexpected(result.error());
    return record;
  }

  Decoded<Response> error_body(dom::element data) {
    ErrorBody record;
    static constexpr std::array<Field, 2> fields = {{{"code"}, {"message", false}}};
    auto result = read_record(data, "struct ErrorBody", fields, [&](std::size_t i, dom::element v) {
      return i == 0 ? text(v, record.code) : text(v, record.message);
    });
    if (!result) return std::unexpected(result.error());
    return record;
  }

  TextCopy copy_;
  JsonPath path_;
};

// From this size on, a second walk over the parsed answer costs less than holding the frame
// while the strings are copied out: it would be held three times over (frame, document, copies).
constexpr std::size_t release_frame_from_bytes = 8u << 20;

}  // namespace

namespace {

// Decodes the answer in `payload`; `release_frame` is called once the payload is no longer
// needed, which for a large answer is before its strings are copied out.
template <typename ReleaseFrame>
std::expected<Response, std::string> decode_answer(std::string_view payload,
                                                   ReleaseFrame release_frame) {
  if (payload.find_first_not_of(json_white_space) == std::string_view::npos) {
    return std::unexpected(describe_fault("EOF while parsing a value", payload, payload.size()));
  }
  dom::parser parser;
  dom::element root;
  // The caller's buffer carries simdjson's padding, so the payload is parsed where it lies.
  if (auto error = parser.parse(payload.data(), payload.size(), false).get(root)) {
    SyntaxFault syntax = locate_syntax_fault(payload);
    std::string_view fault =
        syntax.trailing ? "trailing characters" : simdjson::error_message(error);
    return std::unexpected(describe_fault(fault, payload, syntax.offset + 1));
  }
  const bool large = payload.size() >= release_frame_from_bytes;
  Decoder decoder(large ? TextCopy::check_only : TextCopy::copy);
  auto response = decoder.response(root);
  if (!response) {
    const Fault& fault = response.error();
    std::optional<std::size_t> offset = locate_value(payload, fault.path, fault.anchor);
    return std::unexpected(
        describe_fault(fault.text, payload, offset ? *offset + 1 : payload.size()));
  }
  release_frame();
  if (!large) return std::move(*response);
  // Checked already, so this walk cannot fail; the document holds the strings.
  auto copied = Decoder(TextCopy::copy).response(root);
  if (!copied) return std::unexpected(std::move(copied.error().text));
  return std::move(*copied);
}

}  // namespace

std::expected<Response, std::string> decode_response(std::string_view payload) {
  return decode_answer(payload, [] {});
}

std::expected<Response, std::string> decode_response(std::unique_ptr<char[]> frame,
                                                     std::size_t length) {
  return decode_answer(std::string_view(frame.get(), length), [&] { frame.reset(); });
}

}  // namespace pendrel
