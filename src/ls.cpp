#include "ls.h"

#include "app/connect.h"
#include "i18n/catalogue.h"
#include "output/report.h"
#include "output/table.h"
#include "protocol/json_writer.h"

namespace pendrel {
namespace {

// Written in pieces as it is built, so that a long list is never held whole.
void write_hosts_json(LineBufferedSink& out, const std::vector<HostSummary>& hosts) {
  JsonWriter json([&](std::string_view piece) { out.write_through(piece); }, json_piece_bytes);
  json.begin_array();
  for (const HostSummary& host : hosts) {
    json.begin_object()
        .key("id")
        .string(host.id)
        .key("name")
        .string(host.name)
        .key("host")
        .string(host.host)
        .key("port")
        .unsigned_integer(host.port)
        .key("username")
        .string(host.username)
        .key("protocol")
        .string(host.protocol)
        .end_object();
  }
  json.end_array();
  out.write(json.take_line());
}

TableRow split_at_tabs(std::string_view text) {
  TableRow cells;
  std::size_t start = 0;
  while (true) {
    std::size_t tab = text.find('\t', start);
    cells.emplace_back(text.substr(start, tab - start));
    if (tab == std::string_view::npos) return cells;
    start = tab + 1;
  }
}

// One host's cells, viewing the decoded answer or the frame.
struct HostCells {
  std::string_view id;
  std::string_view name;
  std::string_view host;
  std::uint16_t port = 0;
  std::string_view username;
  std::string_view protocol;
};

std::string hosts_table(const std::vector<HostCells>& hosts, Language language) {
  Table table;
  table.reserve(hosts.size() + 1);
  table.push_back(split_at_tabs(messages::table_header.in(language)));
  std::vector<std::string> addresses;
  addresses.reserve(hosts.size());
  for (const HostCells& host : hosts) {
    // An IPv6 address gets no brackets: the column is for reading, not for pasting.
    std::string& address = addresses.emplace_back(host.host);
    address += ':';
    address += std::to_string(host.port);
    table.push_back({host.id, host.name, address, host.username, host.protocol});
  }
  return render_table(table);
}

std::vector<HostCells> cells_of(const std::vector<HostSummary>& hosts) {
  std::vector<HostCells> cells;
  cells.reserve(hosts.size());
  for (const HostSummary& host : hosts) {
    cells.push_back({host.id, host.name, host.host, host.port, host.username, host.protocol});
  }
  return cells;
}

// The strings are decoded where they lie in the frame.
std::vector<HostCells> cells_of(const CanonicalHosts& list) {
  std::vector<CanonicalHost> hosts = canonical_hosts(list);
  std::vector<HostCells> cells;
  cells.reserve(hosts.size());
  for (CanonicalHost& host : hosts) {
    cells.push_back({host.id.text_in_place(), host.name.text_in_place(), host.host.text_in_place(),
                     host.port, host.username.text_in_place(), host.protocol.text_in_place()});
  }
  return cells;
}

void print_hosts_text(Output& output, const std::vector<HostCells>& hosts) {
  if (hosts.empty()) {
    // Not a result, so it goes to standard error and leaves standard output empty.
    output.err.write(std::string(messages::no_hosts.in(output.lang)) + '\n');
    return;
  }
  // One write, so that a terminal never shows half a table.
  output.out.write(hosts_table(hosts, output.lang));
}

}  // namespace

std::expected<std::string, std::string> parse_ls_arguments(Arguments rest, Language language) {
  if (rest.empty()) return std::string();
  if (rest.size() == 2 && rest[0] == "-q") return rest[1];
  return std::unexpected(std::string(messages::usage_ls.in(language)));
}

int run_ls(const Invocation& invocation, Arguments rest) {
  Output& output = invocation.output;
  auto query = parse_ls_arguments(rest, output.lang);
  if (!query) return report_usage(output, query.error());

  auto listed = request_printable_answer<CanonicalHosts, HostsAnswer>(
      invocation, ListHostsRequest{std::move(*query)});
  if (!listed) return listed.error();

  if (auto* canonical = std::get_if<CanonicalHosts>(&listed->answer)) {
    if (output.json) {
      // The answer's "data" is already the JSON result, byte for byte.
      output.out.write_through(canonical->json);
      output.out.write("\n");
    } else {
      print_hosts_text(output, cells_of(*canonical));
    }
    return 0;
  }
  const std::vector<HostSummary>& hosts = std::get<HostsAnswer>(listed->answer).hosts;
  if (output.json) {
    write_hosts_json(output.out, hosts);
  } else {
    print_hosts_text(output, cells_of(hosts));
  }
  return 0;
}

}  // namespace pendrel
