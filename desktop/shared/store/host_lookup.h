// Finding the host a request names, and the hosts a listing shows.
#pragma once

#include <cstddef>
#include <expected>
#include <string_view>
#include <vector>

#include "desktop/shared/store/host_record.h"
#include "protocol/messages.h"

namespace pendrel::desktop {

// The position in `hosts` of the host whose id is `id_or_name`, else of the one whose name it
// is, whatever its CLI access. No match is host_not_found; a name shared by several hosts is
// bad_request naming their ids.
[[nodiscard]] std::expected<std::size_t, ErrorBody> find_saved_host(
    const std::vector<HostRecord>& hosts, std::string_view id_or_name);

// The host whose id is `id_or_name`, else the one whose name it is. No match is
// host_not_found; a name shared by several hosts is bad_request naming their ids; a host
// whose CLI access is off is host_not_allowed. The error is the answer to send.
[[nodiscard]] std::expected<HostRecord, ErrorBody> resolve_host(
    const std::vector<HostRecord>& hosts, std::string_view id_or_name);

// The hosts with CLI access on whose id, name, address, username or a tag contains `query`
// case-insensitively (an empty query matches all), in the hosts' stable order (by name, then
// id). Never carries a credential.
[[nodiscard]] std::vector<HostSummary> list_hosts(const std::vector<HostRecord>& hosts,
                                                  std::string_view query);

}  // namespace pendrel::desktop
