#include "mcp/tools.h"

#include <array>
#include <span>

namespace pendrel::mcp {
namespace {

enum class Type { string, boolean };

struct Property {
  std::string_view name;
  Type type;
  std::string_view description;
  bool required;
};

struct Annotations {
  bool read_only;
  bool destructive;
  bool idempotent;
  bool open_world;
};

// A success member of the output schema.
struct ResultMember {
  std::string_view name;
  std::string_view type;  // a JSON Schema type
};

struct ToolDefinition {
  Tool tool;
  std::string_view name;
  std::string_view title;
  std::string_view description;
  std::string_view argument_list;
  std::span<const Property> properties;
  Annotations annotations;
  std::span<const ResultMember> result;
};

// What pendrel's skill file teaches an agent, said where a model reads it.
constexpr std::string_view failure_advice =
    " On failure the result is an error with `error` (a stable code to branch on), `message` "
    "and `pendrelExitCode`. command_blocked or command_denied means a rule stopped the command: "
    "never rewrite, encode or split it to get round the rule; tell the user what you wanted to "
    "run and why, and let them run it. app_not_running, cli_disabled, vault_locked, "
    "host_not_allowed and hostkey_* need the user to act in Pendrel.";

constexpr Property list_hosts_properties[] = {
    {"query", Type::string,
     "Keyword to filter by name, address, user or tag (case-insensitive); empty or absent lists "
     "every host.",
     false},
};
constexpr Property exec_properties[] = {
    {"host", Type::string, "The host's id or name, as pendrel_list_hosts gives it.", true},
    {"command", Type::string, "The shell command; a script may span several lines. At most 1MB.",
     true},
    {"terminal", Type::boolean,
     "Run it in the terminal the user already has open for this host in Pendrel (inherits its "
     "directory and environment; stderr is merged into stdout). Only when the user asks, or "
     "when a plain exec cannot connect.",
     false},
};
constexpr Property upload_properties[] = {
    {"host", Type::string, "The host's id or name, as pendrel_list_hosts gives it.", true},
    {"local", Type::string, "Absolute path of the local file to send.", true},
    {"remote", Type::string,
     "Remote path: an existing directory or a path ending in / receives the file under its own "
     "name; anything else is the target file name.",
     true},
};
constexpr Property download_properties[] = {
    {"host", Type::string, "The host's id or name, as pendrel_list_hosts gives it.", true},
    {"remote", Type::string, "Path of the remote file to fetch.", true},
    {"local", Type::string,
     "Absolute local path: an existing directory receives the file under its own name; anything "
     "else is the target file name.",
     true},
};

constexpr ResultMember hosts_result[] = {{"hosts", "array"}};
constexpr ResultMember exec_result[] = {{"exitCode", "integer"},
                                        {"stdout", "string"},
                                        {"stderr", "string"},
                                        {"truncated", "boolean"},
                                        {"durationMs", "integer"}};
constexpr ResultMember transfer_result[] = {
    {"local", "string"}, {"remote", "string"}, {"bytes", "integer"}, {"durationMs", "integer"}};

constexpr std::array<ToolDefinition, 4> definitions{{
    {Tool::list_hosts, "pendrel_list_hosts", "List Pendrel hosts",
     "Lists the servers the user saved in Pendrel and opened to agents (id, name, address, "
     "port, user, protocol; never credentials). Call it first: the other tools take a host's "
     "`id` or `name` from here, never a guessed name or an address. An empty list means no host "
     "has CLI access yet; the user enables it in Pendrel.",
     "query", list_hosts_properties, Annotations{true, false, true, false}, hosts_result},
    {Tool::exec, "pendrel_exec", "Run a command on a host",
     "Runs a shell command on a saved host through Pendrel, which holds the credentials: use it "
     "instead of ssh. Each call is a new connection, so cd and export do not carry over; chain "
     "steps with && or send a multi-line script. A command that ran is a success whatever its "
     "`exitCode`. The call waits for the command to end: never start one that does not end "
     "(tail -f, a server in the foreground); run long jobs in the background with nohup (output "
     "redirected, stdin from /dev/null) or tmux and poll their log. Output is kept to its head "
     "and tail with `truncated` set: filter on the server (tail, grep, wc -l), or redirect big "
     "output to a remote file and fetch it with pendrel_download. Dangerous commands (rm -rf /, "
     "mkfs, shutdown, ...) are stopped by the user's rules or wait for the user's approval.",
     "host, command, terminal", exec_properties, Annotations{false, true, false, true},
     exec_result},
    {Tool::upload, "pendrel_upload", "Upload a file to a host",
     "Copies one local file to a saved host through Pendrel (scp's rules for the target; an "
     "existing file is overwritten). Directories are not supported: archive them with tar "
     "first. `local` and `remote` in the result are the full paths written.",
     "host, local, remote", upload_properties, Annotations{false, true, true, true},
     transfer_result},
    {Tool::download, "pendrel_download", "Download a file from a host",
     "Copies one remote file from a saved host to a local absolute path through Pendrel (an "
     "existing local file is overwritten). For a directory, tar it on the host with "
     "pendrel_exec first. `local` and `remote` in the result are the full paths written.",
     "host, remote, local", download_properties, Annotations{false, true, true, true},
     transfer_result},
}};

const ToolDefinition& spec_of(Tool tool) {
  for (const ToolDefinition& definition : definitions) {
    if (definition.tool == tool) return definition;
  }
  return definitions.front();
}

void write_input_schema(JsonWriter& json, const ToolDefinition& definition) {
  json.begin_object().key("type").string("object").key("properties").begin_object();
  for (const Property& property : definition.properties) {
    json.key(property.name).begin_object();
    json.key("type").string(property.type == Type::string ? "string" : "boolean");
    json.key("description").string(property.description).end_object();
  }
  json.end_object().key("required").begin_array();
  for (const Property& property : definition.properties) {
    if (property.required) json.string(property.name);
  }
  json.end_array().key("additionalProperties").boolean(false).end_object();
}

// Success and failure both come as structured content, told apart by `ok`.
void write_output_schema(JsonWriter& json, const ToolDefinition& definition) {
  json.begin_object().key("type").string("object").key("oneOf").begin_array();
  json.begin_object().key("type").string("object").key("properties").begin_object();
  json.key("ok").begin_object().key("const").boolean(true).end_object();
  for (const ResultMember& member : definition.result) {
    json.key(member.name).begin_object().key("type").string(member.type).end_object();
  }
  json.end_object().key("required").begin_array().string("ok");
  for (const ResultMember& member : definition.result)
    json.string(member.name);
  json.end_array().end_object();

  json.begin_object().key("type").string("object").key("properties").begin_object();
  json.key("ok").begin_object().key("const").boolean(false).end_object();
  json.key("error").begin_object().key("type").string("string").end_object();
  json.key("message").begin_object().key("type").string("string").end_object();
  json.key("pendrelExitCode").begin_object().key("type").string("integer").end_object();
  json.end_object().key("required").begin_array().string("ok").string("error").string("message");
  json.string("pendrelExitCode").end_array().end_object();
  json.end_array().end_object();
}

void write_annotations(JsonWriter& json, const ToolDefinition& definition) {
  const Annotations& a = definition.annotations;
  json.begin_object()
      .key("title")
      .string(definition.title)
      .key("readOnlyHint")
      .boolean(a.read_only);
  json.key("destructiveHint").boolean(a.destructive).key("idempotentHint").boolean(a.idempotent);
  json.key("openWorldHint").boolean(a.open_world).end_object();
}

}  // namespace

std::optional<Tool> tool_named(std::string_view name) {
  for (const ToolDefinition& definition : definitions) {
    if (definition.name == name) return definition.tool;
  }
  return std::nullopt;
}

std::string_view tool_name(Tool tool) {
  return spec_of(tool).name;
}

std::string_view tool_argument_list(Tool tool) {
  return spec_of(tool).argument_list;
}

void write_tool_list(JsonWriter& json) {
  json.begin_array();
  for (const ToolDefinition& definition : definitions) {
    json.begin_object().key("name").string(definition.name).key("title").string(definition.title);
    std::string description(definition.description);
    description += failure_advice;
    json.key("description").string(description).key("inputSchema");
    write_input_schema(json, definition);
    json.key("outputSchema");
    write_output_schema(json, definition);
    json.key("annotations");
    write_annotations(json, definition);
    json.end_object();
  }
  json.end_array();
}

}  // namespace pendrel::mcp
