#include "protocol/launch_config.h"

#include <simdjson.h>

#include <expected>
#include <optional>

#include "protocol/fd_io.h"
#include "protocol/lexical_path.h"
#include "protocol/utf8.h"

namespace pendrel {
namespace {

// The "autoStart" member of a valid settings object, nothing when the object lacks it, or
// an unexpected value when the text is not such an object.
std::expected<std::optional<bool>, simdjson::error_code> parse_auto_start(
    std::string_view content) {
  simdjson::padded_string padded(content);
  simdjson::dom::parser parser;
  simdjson::dom::object settings;
  if (auto error = parser.parse(padded).get_object().get(settings)) {
    return std::unexpected(error);
  }
  std::optional<bool> auto_start;
  // The DOM keeps every member, duplicates included, so a repeated key is seen here.
  for (auto member : settings) {
    if (member.key != "autoStart") continue;
    if (auto_start) return std::unexpected(simdjson::TAPE_ERROR);
    bool value = false;
    if (auto error = member.value.get_bool().get(value)) return std::unexpected(error);
    auto_start = value;
  }
  return auto_start;
}

}  // namespace

LaunchConfig parse_launch_config(std::string_view content) {
  if (!is_valid_utf8(content)) return LaunchConfig{};
  auto auto_start = parse_auto_start(content);
  // A broken file must not stop the application from being started: keep the default.
  if (!auto_start || !*auto_start) return LaunchConfig{};
  return LaunchConfig{**auto_start};
}

LaunchConfig load_launch_config(const std::string& working_data_dir) {
  auto content = read_whole_file(join_path(working_data_dir, "cli-launch.json"));
  if (!content) return LaunchConfig{};
  return parse_launch_config(*content);
}

}  // namespace pendrel
