// JSON-RPC 2.0 as one compact line per message: reading a line into a request, a notification
// or a fault, and writing results, errors and notifications.
#pragma once

#include <simdjson.h>

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "protocol/json_writer.h"

namespace pendrel::mcp {

// A request's id, string or integer, written back exactly as it came.
using RequestId = std::variant<std::int64_t, std::string>;

// The JSON-RPC error codes the server answers with.
enum class RpcError : int {
  parse_error = -32700,
  invalid_request = -32600,
  method_not_found = -32601,
  invalid_params = -32602,
  internal_error = -32603,
  unsupported_version = -32022,
};

// One line read: `id` is absent for a notification. `params` is an object (empty when the
// line had none) and stays valid until the parser reads the next line.
struct RpcMessage {
  std::optional<RequestId> id;
  std::string method;
  simdjson::dom::element params;
};

// Why a line is not a message: the error to answer, and the id when one could be read.
struct RpcFault {
  RpcError code = RpcError::parse_error;
  std::string message;
  std::optional<RequestId> id;
};

// Nothing for a line to ignore (an answer to a request of ours, which we never send).
[[nodiscard]] std::expected<std::optional<RpcMessage>, RpcFault> read_message(
    simdjson::dom::parser& parser, std::string_view line);

// A string or integer id (or progress token); nothing for any other value.
[[nodiscard]] std::optional<RequestId> read_id(simdjson::dom::element value);

// A text that tells ids apart whatever their kind: 7 and "7" differ.
[[nodiscard]] std::string id_key(const RequestId& id);

void write_id(JsonWriter& json, const RequestId& id);

// {"jsonrpc":"2.0","id":…,"result":<result>} and a line feed; `result` is compact JSON.
[[nodiscard]] std::string result_line(const RequestId& id, std::string_view result);

// The error answer; the id is null when it could not be read. `data` is compact JSON or empty.
[[nodiscard]] std::string error_line(const std::optional<RequestId>& id, RpcError code,
                                     std::string_view message, std::string_view data = {});

// {"jsonrpc":"2.0","method":…,"params":<params>} and a line feed.
[[nodiscard]] std::string notification_line(std::string_view method, std::string_view params);

}  // namespace pendrel::mcp
