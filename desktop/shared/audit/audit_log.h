// The audit log logs/audit.jsonl: one JSON line per request, flushed before the answer goes
// out, rotated at a size bound; it never holds a secret.
#pragma once

#include <cstdint>
#include <expected>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "desktop/shared/audit/rotating_file.h"

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
  // How asking a person about the rule's match ended: "approved", "refused", "timed_out",
  // "detached", "locked", "caller_gone" or "stopping"; empty when nobody was asked.
  std::string approval;
  std::string terminal;  // a terminal's id, for its opening, attachments and end
  std::string reason;    // why a terminal ended without an exit status
};

// One line of the log, line feed included: {"time":…,"pid":…,"caller":[…],"kind":…,
// "hostId":…,"hostName":…,"command":…,"local":…,"remote":…,"terminal":…,"reason":…,
// "outcome":…,"exitCode":…,"bytes":…,"durationMs":…,"rule":…,"approval":…}. Empty texts, an empty
// caller list and absent numbers are left out; "time", "pid", "kind", "outcome" and "durationMs"
// are always there.
[[nodiscard]] std::string audit_line(const AuditEntry& entry, const std::string& utc_time);

// The audit log of one data directory: logs/audit.jsonl, rotated to audit.jsonl.1 … .5 at
// 10 MiB unless told otherwise.
class AuditLog {
 public:
  explicit AuditLog(const std::string& logs_dir, Rotation rotation = {10u << 20, 5});

  // Writes the entry, stamped with the current time, and returns once the line is in the
  // file (write(2) has returned). Fails with the errno; the caller logs that and goes on.
  [[nodiscard]] std::expected<void, int> record(const AuditEntry& entry);

 private:
  RotatingFile file_;
};

}  // namespace pendrel::desktop
