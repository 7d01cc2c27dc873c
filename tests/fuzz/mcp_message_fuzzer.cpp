// Any line an MCP client sends is a message or a described fault whose error answer is one
// line of valid JSON; a tool call's arguments become a request or a described usage failure.
#include <simdjson.h>

#include <string>

#include "fuzz_check.h"
#include "mcp/json_rpc.h"
#include "mcp/tool_arguments.h"
#include "mcp/tools.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace pendrel;
  using namespace pendrel::mcp;
  simdjson::dom::parser parser;
  auto message = read_message(parser, fuzz::as_text(data, size));
  if (!message) {
    fuzz::check(!message.error().message.empty(), "a fault is described");
    std::string line =
        error_line(message.error().id, message.error().code, message.error().message);
    fuzz::check(line.find('\n') == line.size() - 1, "an answer is one line");
    simdjson::dom::parser check_parser;
    fuzz::check(!check_parser.parse(line).error(), "an answer is valid JSON");
    return 0;
  }
  if (!*message) return 0;
  simdjson::dom::element name;
  simdjson::dom::object arguments;
  std::string_view tool_text;
  if ((*message)->params["name"].get(name) || name.get_string().get(tool_text)) return 0;
  if ((*message)->params["arguments"].get_object().get(arguments)) return 0;
  if (auto tool = tool_named(tool_text)) {
    auto request = request_for_tool(*tool, arguments, Language::en, {});
    fuzz::check(request.has_value() ||
                    (request.error().code == "usage" && !request.error().message.empty()),
                "refused arguments are a described usage failure");
  }
  return 0;
}
