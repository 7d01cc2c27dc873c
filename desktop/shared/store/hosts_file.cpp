#include "desktop/shared/store/hosts_file.h"

#include <cerrno>
#include <cstdint>
#include <set>

#include "desktop/shared/store/host_fields.h"
#include "desktop/shared/store/json_object_reader.h"
#include "protocol/fd_io.h"
#include "protocol/json_writer.h"
#include "protocol/lexical_path.h"
#include "protocol/os_error.h"

namespace pendrel::desktop {
namespace {

using Failure = std::unexpected<std::string>;

std::expected<HostRecord, std::string> parse_host(simdjson::dom::element element) {
  simdjson::dom::object object;
  if (element.get_object().get(object)) return Failure("must be an object");
  auto reader = ObjectReader::over(object);
  if (!reader) return Failure(reader.error());
  HostRecord host;
  for (auto [key, field] :
       {std::pair{"id", &host.id}, std::pair{"name", &host.name},
        std::pair{"address", &host.address}, std::pair{"username", &host.username}}) {
    auto value = reader->string(key);
    if (!value) return Failure(value.error());
    if (!*value) return Failure(std::string("has no \"") + key + "\"");
    *field = std::move(**value);
  }
  auto port = reader->unsigned_integer("port");
  if (!port) return Failure(port.error());
  if (*port) {
    if (**port == 0 || **port > 65535) return Failure("\"port\" must be from 1 to 65535");
    host.port = static_cast<std::uint16_t>(**port);
  }
  auto protocol = reader->string("protocol");
  if (!protocol) return Failure(protocol.error());
  if (*protocol) {
    if (**protocol == "SSH") {
      host.protocol = HostProtocol::ssh;
    } else if (**protocol == "LOCAL") {
      host.protocol = HostProtocol::local;
    } else {
      return Failure("\"protocol\" must be \"SSH\" or \"LOCAL\"");
    }
  }
  auto tags = reader->array("tags");
  if (!tags) return Failure(tags.error());
  if (*tags) {
    for (auto tag : **tags) {
      std::string_view text;
      if (tag.get_string().get(text)) return Failure("\"tags\" must hold strings only");
      host.tags.emplace_back(text);
    }
  }
  auto cli = reader->boolean("cli");
  if (!cli) return Failure(cli.error());
  host.cli = cli->value_or(false) ? CliAccess::on : CliAccess::off;
  auto legacy = reader->boolean("legacyAlgorithms");
  if (!legacy) return Failure(legacy.error());
  host.legacy_algorithms = legacy->value_or(false) ? LegacyAlgorithms::on : LegacyAlgorithms::off;
  auto timeout = reader->unsigned_integer("connectTimeoutSec");
  if (!timeout) return Failure(timeout.error());
  if (*timeout) {
    if (**timeout == 0 || **timeout > max_connect_timeout_sec)
      return Failure("\"connectTimeoutSec\" must be from 1 to 3600");
    host.connect_timeout_sec = static_cast<std::uint32_t>(**timeout);
  }
  auto duration = reader->unsigned_integer("maxDurationSec");
  if (!duration) return Failure(duration.error());
  if (*duration) {
    if (**duration == 0 || **duration > UINT32_MAX)
      return Failure("\"maxDurationSec\" must be from 1 to 4294967295");
    host.max_duration_sec = static_cast<std::uint32_t>(**duration);
  }
  auto credential = reader->string("credential");
  if (!credential) return Failure(credential.error());
  host.credential_ref = credential->value_or("");
  auto cli_user = reader->string("cliUser");
  if (!cli_user) return Failure(cli_user.error());
  host.cli_user = cli_user->value_or("");
  if (auto bad = check_host_record(host)) return Failure(*bad);
  return host;
}

}  // namespace

std::expected<std::vector<HostRecord>, std::string> parse_hosts(std::string_view text) {
  ParsedObject parsed;
  if (auto parsed_ok = parse_object(text, parsed); !parsed_ok) return Failure(parsed_ok.error());
  auto reader = ObjectReader::over(parsed.object);
  if (!reader) return Failure(reader.error());
  auto version = reader->unsigned_integer("version");
  if (!version) return Failure(version.error());
  if (*version && **version != 1) {
    return Failure("version " + std::to_string(**version) + " is not supported (only 1)");
  }
  auto list = reader->array("hosts");
  if (!list) return Failure(list.error());
  std::vector<HostRecord> hosts;
  if (!*list) return hosts;
  std::set<std::string> ids;
  std::size_t number = 0;
  for (auto element : **list) {
    ++number;
    auto host = parse_host(element);
    if (!host) return Failure("host " + std::to_string(number) + ": " + host.error());
    if (!ids.insert(host->id).second) {
      return Failure("host " + std::to_string(number) + ": id " + host->id + " is used twice");
    }
    hosts.push_back(std::move(*host));
  }
  return hosts;
}

void write_host_members(JsonWriter& writer, const HostRecord& host) {
  writer.key("id")
      .string(host.id)
      .key("name")
      .string(host.name)
      .key("address")
      .string(host.address)
      .key("port")
      .unsigned_integer(host.port)
      .key("username")
      .string(host.username)
      .key("protocol")
      .string(protocol_name(host.protocol))
      .key("tags")
      .begin_array();
  for (const auto& tag : host.tags)
    writer.string(tag);
  writer.end_array()
      .key("cli")
      .boolean(host.cli == CliAccess::on)
      .key("legacyAlgorithms")
      .boolean(host.legacy_algorithms == LegacyAlgorithms::on)
      .key("connectTimeoutSec")
      .unsigned_integer(host.connect_timeout_sec);
  if (host.max_duration_sec) writer.key("maxDurationSec").unsigned_integer(*host.max_duration_sec);
}

std::string encode_hosts(const std::vector<HostRecord>& hosts) {
  std::string out = "{\"version\":1,\"hosts\":[";
  bool first = true;
  for (const auto& host : hosts) {
    JsonWriter writer;
    writer.begin_object();
    write_host_members(writer, host);
    if (!host.credential_ref.empty()) writer.key("credential").string(host.credential_ref);
    if (!host.cli_user.empty()) writer.key("cliUser").string(host.cli_user);
    writer.end_object();
    out += first ? "\n  " : ",\n  ";
    out += writer.text();
    first = false;
  }
  out += hosts.empty() ? "]}\n" : "\n]}\n";
  return out;
}

std::expected<std::vector<HostRecord>, std::string> load_hosts(const std::string& data_dir) {
  std::string path = join_path(data_dir, hosts_file_name);
  auto content = read_whole_file(path);
  if (!content) {
    if (content.error() == ENOENT) return std::vector<HostRecord>{};
    return Failure(path + ": " + os_error_text(content.error()));
  }
  auto hosts = parse_hosts(*content);
  if (!hosts) return Failure(path + ": " + hosts.error());
  return hosts;
}

std::expected<void, FileError> save_hosts(const std::string& data_dir,
                                          const std::vector<HostRecord>& hosts) {
  return write_file_atomically(join_path(data_dir, hosts_file_name), encode_hosts(hosts));
}

}  // namespace pendrel::desktop
