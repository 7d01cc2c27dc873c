// The hosts file hosts.json: its text form, and reading and saving it in the data directory.
#pragma once

#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "desktop/shared/store/atomic_file.h"
#include "desktop/shared/store/host_record.h"
#include "protocol/json_writer.h"

namespace pendrel::desktop {

inline constexpr std::string_view hosts_file_name = "hosts.json";

// {"version":1,"hosts":[{...},...]} with per host "id", "name", "address", "username"
// (required), "port" (22), "protocol" ("SSH"), "tags" ([]), "cli" (false),
// "legacyAlgorithms" (false), "connectTimeoutSec" (10), "maxDurationSec" (none),
// "credential" (none) and "cliUser" (none). Unknown members are ignored. Fails with a reason naming
// the host and the field, for a wrong type, a value the field rules refuse, a repeated key or two
// hosts with one id.
[[nodiscard]] std::expected<std::vector<HostRecord>, std::string> parse_hosts(
    std::string_view text);

// Writes id, name, address, port, username, protocol, tags, cli, legacyAlgorithms,
// connectTimeoutSec and maxDurationSec (when set) into an open object: the members the hosts
// file and the person's JSON listing share.
void write_host_members(JsonWriter& writer, const HostRecord& host);

// The file's text: one host per line so that a person can read and edit it.
[[nodiscard]] std::string encode_hosts(const std::vector<HostRecord>& hosts);

// The hosts of `data_dir`; a missing file is no hosts. Fails with "{path}: {reason}".
[[nodiscard]] std::expected<std::vector<HostRecord>, std::string> load_hosts(
    const std::string& data_dir);

// Saves atomically, mode 0600.
[[nodiscard]] std::expected<void, FileError> save_hosts(const std::string& data_dir,
                                                        const std::vector<HostRecord>& hosts);

}  // namespace pendrel::desktop
