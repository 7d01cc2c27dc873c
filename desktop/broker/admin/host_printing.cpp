#include "desktop/broker/admin/host_printing.h"

#include <algorithm>
#include <array>

#include "desktop/shared/store/hosts_file.h"

namespace pendrel::desktop {
namespace {

std::string joined_tags(const HostRecord& host) {
  std::string tags;
  for (const auto& tag : host.tags)
    tags += (tags.empty() ? "" : ",") + tag;
  return tags;
}

const char* on_off(CliAccess cli) {
  return cli == CliAccess::on ? "on" : "off";
}

// Characters, not bytes, so that a non-ASCII name does not push its row out of line.
std::size_t characters(const std::string& text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

}  // namespace

void write_host_json(JsonWriter& writer, const HostRecord& host) {
  writer.begin_object();
  write_host_members(writer, host);
  writer.key("hasCredential").boolean(!host.credential_ref.empty());
  // The user of the command-line login is a name, not a secret; what it logs in with is
  // never shown.
  writer.key("hasCliLogin").boolean(!host.cli_user.empty());
  if (!host.cli_user.empty()) writer.key("cliUser").string(host.cli_user);
  writer.end_object();
}

std::string host_table(const std::vector<HostRecord>& hosts) {
  using Row = std::array<std::string, 8>;
  std::vector<Row> rows{{"ID", "NAME", "ADDRESS", "PORT", "USER", "PROTOCOL", "CLI", "TAGS"}};
  for (const auto& host : hosts) {
    rows.push_back({host.id, host.name, host.address, std::to_string(host.port), host.username,
                    protocol_name(host.protocol), on_off(host.cli), joined_tags(host)});
  }
  std::array<std::size_t, 8> widths{};
  for (const auto& row : rows) {
    for (std::size_t i = 0; i < row.size(); ++i)
      widths[i] = std::max(widths[i], characters(row[i]));
  }
  std::string out;
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line.append(widths[i] - characters(row[i]) + 2, ' ');
    }
    while (line.ends_with(' '))
      line.pop_back();
    out += line + "\n";
  }
  return out;
}

std::string host_details(const HostRecord& host) {
  std::string text = "id: " + host.id + "\nname: " + host.name + "\naddress: " + host.address +
                     "\nport: " + std::to_string(host.port) + "\nuser: " + host.username +
                     "\nprotocol: " + protocol_name(host.protocol) +
                     "\ntags: " + joined_tags(host) + "\ncli: " + on_off(host.cli) +
                     "\ncredential: " + (host.credential_ref.empty() ? "none" : "set") +
                     "\ncli login: " + (host.cli_user.empty() ? "none" : host.cli_user) + "\n";
  // How the host is connected, which means nothing for this machine itself.
  if (host.protocol == HostProtocol::ssh) {
    text += std::string("legacy devices: ") +
            (host.legacy_algorithms == LegacyAlgorithms::on ? "on" : "off") +
            "\nconnect timeout: " + std::to_string(host.connect_timeout_sec) +
            " s\nmax duration: " +
            (host.max_duration_sec ? std::to_string(*host.max_duration_sec) + " s" : "off") + "\n";
  }
  return text;
}

}  // namespace pendrel::desktop
