#include "desktop/shared/store/host_lookup.h"

#include <algorithm>
#include <cctype>
#include <tuple>

namespace pendrel::desktop {
namespace {

char fold(char c) {
  return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

// ASCII letters compare without case; other bytes, UTF-8 included, compare exactly.
bool contains_folded(std::string_view text, std::string_view folded_query) {
  auto match = std::search(text.begin(), text.end(), folded_query.begin(), folded_query.end(),
                           [](char a, char b) { return fold(a) == b; });
  return match != text.end() || folded_query.empty();
}

bool matches(const HostRecord& host, std::string_view folded_query) {
  if (contains_folded(host.id, folded_query) || contains_folded(host.name, folded_query) ||
      contains_folded(host.address, folded_query) || contains_folded(host.username, folded_query)) {
    return true;
  }
  return std::any_of(host.tags.begin(), host.tags.end(),
                     [&](const std::string& tag) { return contains_folded(tag, folded_query); });
}

}  // namespace

std::expected<std::size_t, ErrorBody> find_saved_host(const std::vector<HostRecord>& hosts,
                                                      std::string_view id_or_name) {
  for (std::size_t i = 0; i < hosts.size(); ++i) {
    if (hosts[i].id == id_or_name) return i;
  }
  std::vector<std::size_t> named;
  for (std::size_t i = 0; i < hosts.size(); ++i) {
    if (hosts[i].name == id_or_name) named.push_back(i);
  }
  if (named.empty()) {
    return std::unexpected(
        ErrorBody{"host_not_found", "no host has the id or name " + std::string(id_or_name)});
  }
  if (named.size() > 1) {
    std::string ids;
    for (std::size_t i : named)
      ids += (ids.empty() ? "" : ", ") + hosts[i].id;
    return std::unexpected(ErrorBody{"bad_request", "the name " + std::string(id_or_name) +
                                                        " belongs to several hosts (ids " + ids +
                                                        "); name one by its id"});
  }
  return named.front();
}

std::expected<HostRecord, ErrorBody> resolve_host(const std::vector<HostRecord>& hosts,
                                                  std::string_view id_or_name) {
  auto found = find_saved_host(hosts, id_or_name);
  if (!found) return std::unexpected(found.error());
  const HostRecord& host = hosts[*found];
  if (host.cli != CliAccess::on) {
    return std::unexpected(
        ErrorBody{"host_not_allowed",
                  "host " + host.name + " (" + host.id + ") does not allow command-line access"});
  }
  return host;
}

std::vector<HostSummary> list_hosts(const std::vector<HostRecord>& hosts, std::string_view query) {
  std::string folded_query(query);
  std::transform(folded_query.begin(), folded_query.end(), folded_query.begin(), fold);
  std::vector<const HostRecord*> shown;
  for (const auto& host : hosts) {
    if (host.cli == CliAccess::on && matches(host, folded_query)) shown.push_back(&host);
  }
  std::sort(shown.begin(), shown.end(), [](const HostRecord* a, const HostRecord* b) {
    return std::tie(a->name, a->id) < std::tie(b->name, b->id);
  });
  std::vector<HostSummary> summaries;
  summaries.reserve(shown.size());
  for (const auto* host : shown) {
    summaries.push_back(HostSummary{host->id, host->name, host->address, host->port, host->username,
                                    protocol_name(host->protocol)});
  }
  return summaries;
}

}  // namespace pendrel::desktop
