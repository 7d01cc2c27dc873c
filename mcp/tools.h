// The four tools: their names, and the tools/list entries with schemas and annotations.
#pragma once

#include <optional>
#include <string_view>

#include "protocol/json_writer.h"

namespace pendrel::mcp {

enum class Tool { list_hosts, exec, upload, download };

[[nodiscard]] std::optional<Tool> tool_named(std::string_view name);
[[nodiscard]] std::string_view tool_name(Tool tool);

// The argument names a tool takes, for the message that refuses an unknown one: "host, command,
// terminal".
[[nodiscard]] std::string_view tool_argument_list(Tool tool);

// The "tools" array of tools/list, always in the same order.
void write_tool_list(JsonWriter& json);

}  // namespace pendrel::mcp
