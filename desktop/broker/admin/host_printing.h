// How the person's commands show saved hosts: a table or key-value lines for people, one JSON
// value for scripts. A credential is shown only as whether one is set.
#pragma once

#include <string>
#include <vector>

#include "desktop/shared/store/host_record.h"
#include "protocol/json_writer.h"

namespace pendrel::desktop {

// {"id","name","address","port","username","protocol","tags","cli",...,"hasCredential",
// "hasCliLogin","cliUser" (only when set)}.
void write_host_json(JsonWriter& writer, const HostRecord& host);

// ID NAME ADDRESS PORT USER PROTOCOL CLI TAGS, a header and a line per host, columns aligned.
[[nodiscard]] std::string host_table(const std::vector<HostRecord>& hosts);

// "id: …" and so on, a line per field.
[[nodiscard]] std::string host_details(const HostRecord& host);

}  // namespace pendrel::desktop
