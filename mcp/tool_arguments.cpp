#include "mcp/tool_arguments.h"

#include <optional>

#include "i18n/catalogue.h"
#include "mcp/messages.h"
#include "protocol/lexical_path.h"
#include "protocol/white_space.h"

namespace pendrel::mcp {
namespace {

namespace dom = simdjson::dom;

// The arguments by name, each read once against its expected type.
class Arguments {
 public:
  Arguments(dom::object object, Language language) : object_(object), language_(language) {}

  // Every argument named in `known`, or the usage failure for the first that is not.
  [[nodiscard]] std::optional<CliFailure> unknown_one(
      Tool tool, std::initializer_list<std::string_view> known) const {
    for (dom::key_value_pair member : object_) {
      bool listed = false;
      for (std::string_view name : known)
        listed = listed || member.key == name;
      if (!listed) {
        return usage_failure(format_message(mcp_messages::argument_unknown, language_,
                                            std::string(member.key), tool_name(tool),
                                            tool_argument_list(tool)));
      }
    }
    return std::nullopt;
  }

  // A string argument; nothing when absent and not required.
  [[nodiscard]] std::expected<std::optional<std::string>, CliFailure> text(std::string_view name,
                                                                           bool required) const {
    dom::element value;
    if (object_[name].get(value)) {
      if (!required) return std::nullopt;
      return std::unexpected(
          usage_failure(format_message(mcp_messages::argument_missing, language_, name)));
    }
    std::string_view text;
    if (value.get_string().get(text)) {
      return std::unexpected(
          usage_failure(format_message(mcp_messages::argument_not_string, language_, name)));
    }
    return std::string(text);
  }

  [[nodiscard]] std::expected<bool, CliFailure> flag(std::string_view name) const {
    dom::element value;
    if (object_[name].get(value)) return false;
    bool flag = false;
    if (value.get_bool().get(flag)) {
      return std::unexpected(
          usage_failure(format_message(mcp_messages::argument_not_boolean, language_, name)));
    }
    return flag;
  }

 private:
  dom::object object_;
  Language language_;
};

std::expected<Request, CliFailure> list_hosts_request(const Arguments& arguments) {
  auto query = arguments.text("query", false);
  if (!query) return std::unexpected(std::move(query.error()));
  return ListHostsRequest{query->value_or("")};
}

std::expected<Request, CliFailure> exec_request(const Arguments& arguments, Language language,
                                                std::vector<std::string> caller) {
  auto host = arguments.text("host", true);
  if (!host) return std::unexpected(std::move(host.error()));
  auto command = arguments.text("command", true);
  if (!command) return std::unexpected(std::move(command.error()));
  auto terminal = arguments.flag("terminal");
  if (!terminal) return std::unexpected(std::move(terminal.error()));
  if (command->value().size() > max_command_bytes) {
    return std::unexpected(
        usage_failure(std::string(mcp_messages::command_too_large.in(language))));
  }
  // The test only: the command is sent with its white space.
  if (trim_white_space(**command).empty()) {
    return std::unexpected(usage_failure(std::string(messages::command_empty.in(language))));
  }
  return ExecRequest{std::move(**host), std::move(**command),
                     *terminal ? TerminalMode::on : TerminalMode::off, std::move(caller)};
}

std::expected<Request, CliFailure> transfer_request(Tool tool, const Arguments& arguments,
                                                    Language language,
                                                    std::vector<std::string> caller) {
  TransferRequest fields;
  for (auto [name, into] : {std::pair{"host", &fields.host}, std::pair{"local", &fields.local},
                            std::pair{"remote", &fields.remote}}) {
    auto value = arguments.text(name, true);
    if (!value) return std::unexpected(std::move(value.error()));
    *into = std::move(**value);
  }
  if (fields.host.empty() || fields.local.empty() || fields.remote.empty()) {
    return std::unexpected(usage_failure(std::string(messages::path_empty.in(language))));
  }
  // The server's working directory is the client's choice and means nothing to the model.
  if (!fields.local.starts_with('/')) {
    return std::unexpected(
        usage_failure(format_message(mcp_messages::local_not_absolute, language, fields.local)));
  }
  fields.local = absolute_lexically(fields.local, "/");
  fields.caller = std::move(caller);
  if (tool == Tool::upload) return UploadRequest{std::move(fields)};
  return DownloadRequest{std::move(fields)};
}

}  // namespace

std::expected<Request, CliFailure> request_for_tool(Tool tool, dom::object object,
                                                    Language language,
                                                    std::vector<std::string> caller) {
  const Arguments arguments(object, language);
  switch (tool) {
    case Tool::list_hosts:
      if (auto unknown = arguments.unknown_one(tool, {"query"})) return std::unexpected(*unknown);
      return list_hosts_request(arguments);
    case Tool::exec:
      if (auto unknown = arguments.unknown_one(tool, {"host", "command", "terminal"})) {
        return std::unexpected(*unknown);
      }
      return exec_request(arguments, language, std::move(caller));
    case Tool::upload:
    case Tool::download:
      if (auto unknown = arguments.unknown_one(tool, {"host", "local", "remote"})) {
        return std::unexpected(*unknown);
      }
      return transfer_request(tool, arguments, language, std::move(caller));
  }
  return std::unexpected(usage_failure(std::string(tool_name(tool))));
}

}  // namespace pendrel::mcp
