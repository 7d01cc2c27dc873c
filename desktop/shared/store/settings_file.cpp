#include "desktop/shared/store/settings_file.h"

#include <cerrno>

#include "desktop/broker/rules/rule_settings_json.h"
#include "desktop/shared/store/atomic_file.h"
#include "desktop/shared/store/json_object_reader.h"
#include "protocol/fd_io.h"
#include "protocol/lexical_path.h"
#include "protocol/os_error.h"

namespace pendrel::desktop {
namespace {

using Failure = std::unexpected<std::string>;

// The file's text, empty when it does not exist.
std::expected<std::string, std::string> read_if_present(const std::string& path) {
  auto content = read_whole_file(path);
  if (content) return std::move(*content);
  if (content.error() == ENOENT) return std::string();
  return Failure(path + ": " + os_error_text(content.error()));
}

std::expected<void, std::string> write(const std::string& path, const std::string& text) {
  if (auto written = write_file_atomically(path, text); !written) {
    return Failure(written.error().text());
  }
  return {};
}

}  // namespace

std::expected<Settings, std::string> parse_settings(std::string_view text) {
  ParsedObject parsed;
  if (auto parsed_ok = parse_object(text, parsed); !parsed_ok) return Failure(parsed_ok.error());
  auto reader = ObjectReader::over(parsed.object);
  if (!reader) return Failure(reader.error());
  auto version = reader->unsigned_integer("version");
  if (!version) return Failure(version.error());
  if (*version && **version != 1) {
    return Failure("version " + std::to_string(**version) + " is not supported (only 1)");
  }
  Settings settings;
  auto external_cli = reader->boolean("externalCli");
  if (!external_cli) return Failure(external_cli.error());
  if (*external_cli) settings.external_cli = **external_cli ? ExternalCli::on : ExternalCli::off;
  // A "rules" member that does not decode fails the whole file, so that the service keeps the
  // rules it had rather than fall back to fewer.
  simdjson::dom::element rules;
  if (parsed.object["rules"].get(rules) == simdjson::SUCCESS) {
    auto decoded = decode_rule_settings(rules);
    if (!decoded) return Failure("\"rules\": " + decoded.error().detail);
    settings.rules = std::move(*decoded);
  }
  return settings;
}

std::expected<Settings, std::string> load_settings(const std::string& data_dir) {
  std::string path = join_path(data_dir, settings_file_name);
  auto text = read_if_present(path);
  if (!text) return Failure(text.error());
  if (text->empty()) return Settings{};
  auto settings = parse_settings(*text);
  if (!settings) return Failure(path + ": " + settings.error());
  return settings;
}

std::expected<void, std::string> save_external_cli(const std::string& data_dir, ExternalCli value) {
  std::string path = join_path(data_dir, settings_file_name);
  auto text = read_if_present(path);
  if (!text) return Failure(text.error());
  if (text->empty()) {
    *text = "{\"version\":1}";
  } else if (auto valid = parse_settings(*text); !valid) {
    return Failure(path + ": " + valid.error());
  }
  return write(
      path, set_object_member(*text, "externalCli", value == ExternalCli::on ? "true" : "false"));
}

std::expected<void, std::string> save_auto_start(const std::string& data_dir, bool auto_start) {
  std::string path = join_path(data_dir, launch_file_name);
  auto text = read_if_present(path);
  if (!text) return Failure(text.error());
  return write(path, set_object_member(*text, "autoStart", auto_start ? "true" : "false"));
}

}  // namespace pendrel::desktop
