// The audit log logs/audit.jsonl: one JSON line per request, flushed before the answer goes
// out, rotated at a size bound; it never holds a secret.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace pendrel::desktop {

struct AuditEntry {
  std::int64_t client_pid = 0;
  std::vector<std::string> caller;
  std::string kind;  // the request kind: "listHosts", "exec", "upload", "download", ...
  std::string host_id;
  std::string host_name;
  std::string command;  // exec
  std::string local;    // transfers
  std::string remote;
  std::string outcome;  // "ok" or the error code
  std::optional<std::int32_t> exit_code;
  std::optional<std::uint64_t> bytes;  // output or transferred bytes
  std::uint64_t duration_ms = 0;
  std::string rule;  // the dangerous-command rule involved, if any
};
}  // namespace pendrel::desktop
