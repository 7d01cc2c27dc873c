#include "mcp/server.h"

#include "app/version.h"
#include "caller/caller.h"
#include "mcp/tool_arguments.h"
#include "mcp/tools.h"
#include "protocol/json_writer.h"

namespace pendrel::mcp {
namespace {

namespace dom = simdjson::dom;

constexpr std::string_view version_key = "io.modelcontextprotocol/protocolVersion";
constexpr std::string_view server_info_key = "io.modelcontextprotocol/serverInfo";
// The tool list never changes: hosts are arguments, not tools.
constexpr std::uint64_t tool_list_ttl_ms = 3600000;

constexpr std::string_view instructions =
    "Pendrel runs shell commands and copies single files on servers the user saved in the "
    "Pendrel desktop application, which keeps every password and key to itself. Use these tools "
    "instead of ssh, scp or sftp. Call pendrel_list_hosts first and name hosts by its id or "
    "name. The user's rules may stop or hold a command for approval: never work round them.";

std::optional<dom::element> member(dom::element object, std::string_view key) {
  dom::element value;
  if (object[key].get(value)) return std::nullopt;
  return value;
}

// The revision a stateless request names in its _meta; nothing for a request of the
// handshake era. A version that is not a string reads as the empty one, which no one speaks.
std::optional<std::string> stated_version(dom::element params) {
  auto meta = member(params, "_meta");
  if (!meta) return std::nullopt;
  auto version = member(*meta, version_key);
  if (!version) return std::nullopt;
  std::string_view text;
  if (version->get_string().get(text)) return std::string();
  return std::string(text);
}

void write_server_info(JsonWriter& json) {
  json.begin_object().key("name").string("pendrel-mcp").key("title").string("Pendrel");
  json.key("version").string(program_version).end_object();
}

void write_capabilities(JsonWriter& json) {
  json.begin_object().key("tools").begin_object().end_object().end_object();
}

void end_result(JsonWriter& json, Era era) {
  if (era == Era::stateless) json.key("resultType").string("complete");
  json.end_object();
}

std::string initialize_result(dom::element params) {
  std::string_view chosen = handshake_versions[0];
  if (auto requested = member(params, "protocolVersion")) {
    std::string_view text;
    for (std::string_view version : handshake_versions) {
      if (!requested->get_string().get(text) && text == version) chosen = version;
    }
  }
  JsonWriter json;
  json.begin_object().key("protocolVersion").string(chosen).key("capabilities");
  write_capabilities(json);
  json.key("serverInfo");
  write_server_info(json);
  json.key("instructions").string(instructions).end_object();
  return json.take();
}

std::string discover_result() {
  JsonWriter json;
  json.begin_object().key("supportedVersions").begin_array().string(stateless_version);
  for (std::string_view version : handshake_versions)
    json.string(version);
  json.end_array().key("capabilities");
  write_capabilities(json);
  json.key("instructions").string(instructions);
  json.key("_meta").begin_object().key(server_info_key);
  write_server_info(json);
  json.end_object();
  end_result(json, Era::stateless);
  return json.take();
}

std::string tool_list_result(Era era) {
  JsonWriter json;
  json.begin_object().key("tools");
  write_tool_list(json);
  if (era == Era::stateless) {
    json.key("ttlMs").unsigned_integer(tool_list_ttl_ms).key("cacheScope").string("private");
  }
  end_result(json, era);
  return json.take();
}

std::string empty_result(Era era) {
  JsonWriter json;
  json.begin_object();
  end_result(json, era);
  return json.take();
}

std::string unsupported_version_data(std::string_view requested) {
  JsonWriter json;
  json.begin_object().key("supported").begin_array().string(stateless_version).end_array();
  json.key("requested").string(requested).end_object();
  return json.take();
}

}  // namespace

void Server::handle_line(std::string_view line) {
  auto message = read_message(parser_, line);
  if (!message) {
    out_.write(error_line(message.error().id, message.error().code, message.error().message));
    return;
  }
  if (*message) handle(**message);
}

void Server::handle(const RpcMessage& message) {
  if (!message.id) {
    // notifications/initialized needs nothing; unknown notifications are ignored.
    if (message.method == "notifications/cancelled") {
      if (auto request = member(message.params, "requestId")) {
        if (auto id = read_id(*request)) calls_.cancel(*id);
      }
    }
    return;
  }
  Era era = Era::legacy;
  if (auto version = stated_version(message.params)) {
    if (*version != stateless_version) {
      out_.write(error_line(message.id, RpcError::unsupported_version,
                            "unsupported protocol version", unsupported_version_data(*version)));
      return;
    }
    era = Era::stateless;
  } else if (!initialized_ && message.method != "initialize" && message.method != "ping" &&
             message.method != "server/discover") {
    out_.write(error_line(message.id, RpcError::invalid_request,
                          "the server is not initialized: send initialize first"));
    return;
  }
  answer(message, era);
}

void Server::answer(const RpcMessage& message, Era era) {
  const RequestId& id = *message.id;
  const std::string& method = message.method;
  if (method == "tools/call") {
    start_call(message, era);
  } else if (method == "tools/list") {
    out_.write(result_line(id, tool_list_result(era)));
  } else if (method == "initialize") {
    initialized_ = true;
    out_.write(result_line(id, initialize_result(message.params)));
  } else if (method == "server/discover") {
    out_.write(result_line(id, discover_result()));
  } else if (method == "ping") {
    out_.write(result_line(id, empty_result(era)));
  } else {
    out_.write(error_line(id, RpcError::method_not_found, "method not found: " + method));
  }
}

void Server::start_call(const RpcMessage& message, Era era) {
  const RequestId& id = *message.id;
  std::string_view name;
  auto given_name = member(message.params, "name");
  if (!given_name || given_name->get_string().get(name)) {
    out_.write(error_line(id, RpcError::invalid_params, "tools/call needs the tool's name"));
    return;
  }
  auto tool = tool_named(name);
  if (!tool) {
    out_.write(error_line(id, RpcError::invalid_params, "unknown tool: " + std::string(name)));
    return;
  }
  dom::object arguments;
  if (auto given = member(message.params, "arguments")) {
    if (given->get_object().get(arguments)) {
      out_.write(error_line(id, RpcError::invalid_params, "the arguments must be an object"));
      return;
    }
  } else {
    // No arguments stand for an empty object.
    static dom::parser empty_parser;
    static const dom::object empty = empty_parser.parse("{}", 2, true).get_object().value_unsafe();
    arguments = empty;
  }
  std::optional<RequestId> progress_token;
  if (auto meta = member(message.params, "_meta")) {
    if (auto token = member(*meta, "progressToken")) progress_token = read_id(*token);
  }
  auto request = request_for_tool(*tool, arguments, settings_.language, current_caller_list());
  if (!request) {
    // Answered at once: nothing was asked of the service.
    out_.write(result_line(id, failure_result(request.error(), settings_.language, era)));
    return;
  }
  if (!calls_.start(ToolCall{id, std::move(progress_token), era, *tool, std::move(*request)})) {
    out_.write(error_line(id, RpcError::invalid_request, "a call with this id is still running"));
  }
}

}  // namespace pendrel::mcp
