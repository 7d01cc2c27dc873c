#include "mcp/json_rpc.h"

namespace pendrel::mcp {
namespace {

namespace dom = simdjson::dom;

std::unexpected<RpcFault> fault(RpcError code, std::string message,
                                std::optional<RequestId> id = std::nullopt) {
  return std::unexpected(RpcFault{code, std::move(message), std::move(id)});
}

// The empty object that stands for absent params.
dom::element empty_params() {
  static dom::parser parser;
  static const dom::element empty = parser.parse("{}", 2, true).value_unsafe();
  return empty;
}

}  // namespace

std::optional<RequestId> read_id(dom::element value) {
  if (std::int64_t number = 0; value.is_int64() && !value.get_int64().get(number)) return number;
  if (std::string_view text; !value.get_string().get(text)) return std::string(text);
  return std::nullopt;
}

std::expected<std::optional<RpcMessage>, RpcFault> read_message(dom::parser& parser,
                                                                std::string_view line) {
  dom::element root;
  if (parser.parse(line.data(), line.size(), true).get(root)) {
    return fault(RpcError::parse_error, "parse error");
  }
  dom::object object;
  if (root.get_object().get(object)) {
    return fault(RpcError::invalid_request, "a message must be an object");
  }
  std::optional<RequestId> id;
  if (dom::element raw_id; !object["id"].get(raw_id)) {
    id = read_id(raw_id);
    if (!id) return fault(RpcError::invalid_request, "the id must be a string or an integer");
  }
  if (std::string_view version; object["jsonrpc"].get_string().get(version) || version != "2.0") {
    return fault(RpcError::invalid_request, "jsonrpc must be \"2.0\"", id);
  }
  dom::element method;
  if (object["method"].get(method)) {
    // An answer to a request of the server's: it sends none, so there is nothing to do.
    if (id && (object["result"].error() == simdjson::SUCCESS ||
               object["error"].error() == simdjson::SUCCESS)) {
      return std::nullopt;
    }
    return fault(RpcError::invalid_request, "a message needs a method", id);
  }
  std::string_view name;
  if (method.get_string().get(name)) {
    return fault(RpcError::invalid_request, "the method must be a string", id);
  }
  dom::element params = empty_params();
  if (dom::element given; !object["params"].get(given)) {
    if (!given.is_object()) return fault(RpcError::invalid_params, "params must be an object", id);
    params = given;
  }
  return RpcMessage{std::move(id), std::string(name), params};
}

std::string id_key(const RequestId& id) {
  if (const auto* number = std::get_if<std::int64_t>(&id)) return "n" + std::to_string(*number);
  return "s" + std::get<std::string>(id);
}

void write_id(JsonWriter& json, const RequestId& id) {
  if (const auto* number = std::get_if<std::int64_t>(&id)) {
    json.integer(*number);
  } else {
    json.string(std::get<std::string>(id));
  }
}

std::string result_line(const RequestId& id, std::string_view result) {
  JsonWriter json;
  json.begin_object().key("jsonrpc").string("2.0").key("id");
  write_id(json, id);
  json.key("result").written_value(result).end_object();
  return json.take_line();
}

std::string error_line(const std::optional<RequestId>& id, RpcError code, std::string_view message,
                       std::string_view data) {
  JsonWriter json;
  json.begin_object().key("jsonrpc").string("2.0").key("id");
  if (id) {
    write_id(json, *id);
  } else {
    json.null();
  }
  json.key("error").begin_object().key("code").integer(static_cast<int>(code));
  json.key("message").string(message);
  if (!data.empty()) json.key("data").written_value(data);
  json.end_object().end_object();
  return json.take_line();
}

std::string notification_line(std::string_view method, std::string_view params) {
  JsonWriter json;
  json.begin_object().key("jsonrpc").string("2.0").key("method").string(method);
  json.key("params").written_value(params).end_object();
  return json.take_line();
}

}  // namespace pendrel::mcp
