// The exchange by which a person's service in the broker has the person's front do what only
// the person may: run a LOCAL host's work, and open the local file of an SSH transfer. The
// service has checked the request (and, where a rule asked for it, had it approved) first.
//
// After the request, the service may send the front, instead of the answer:
//   {"front":"runLocal","hostId":…,"hostName":…}  run the request here; the front answers
//       pendrel itself and reports {"outcome":"ok"|code,"exitCode":N,"bytes":N,"local":…,
//       "remote":…,"terminal":…} for the audit (the host, as the service found it, names the
//       front's terminals of an exec --terminal; "terminal" the one typed into);
//   {"front":"openFile"}  open the transfer's local file (an upload's source, or a download's
//       temporary file beside its target) and send it: {"local":path} with the descriptor, or
//       {"error":code,"message":…};
//   {"front":"install","mode":M}  the download is complete: give the temporary file its mode
//       and its name, and say {"installed":true} or {"error":code,"message":…}.
// Any other frame is the answer to pendrel; a download's temporary file is then removed.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/messages.h"
#include "protocol/unique_fd.h"

namespace pendrel::desktop {

struct FrontOutcome {
  std::string outcome = "ok";  // "ok" or the error code the front answered
  std::optional<std::int32_t> exit_code;
  std::optional<std::uint64_t> bytes;
  std::string local;  // a transfer's paths as copied
  std::string remote;
  std::string terminal;  // the terminal an exec --terminal was typed into
};

// The LOCAL host the service found for the request.
struct FrontHost {
  std::string id;
  std::string name;
};

// The service's side: has the front run the request, and waits for the outcome however long
// the work takes, until the front hangs up or `abandon_fd` becomes readable.
[[nodiscard]] std::expected<FrontOutcome, std::string> ask_front_to_run(int socket,
                                                                        const FrontHost& host,
                                                                        int abandon_fd);

// The service's side: the local file of a transfer, opened by the front, and its path.
struct FrontFile {
  UniqueFd fd;
  std::string local;
};
[[nodiscard]] std::expected<FrontFile, ErrorBody> ask_front_for_file(int socket, int abandon_fd);

// The service's side: has the front give the downloaded file `mode` and its name.
[[nodiscard]] std::expected<void, ErrorBody> ask_front_to_install(int socket, mode_t mode,
                                                                  int abandon_fd);

// The front's side: what the service asks for, or nothing when `payload` is pendrel's answer.
struct FrontStep {
  enum class Kind { run_local, open_file, install };
  Kind kind = Kind::run_local;
  mode_t mode = 0644;  // install
  FrontHost host;      // run_local
};
[[nodiscard]] std::optional<FrontStep> front_step(std::string_view payload);

// The service's side, once the front's outcome is in the audit.
[[nodiscard]] bool confirm_outcome_recorded(int socket);

// The front's side: the frames it answers with.
[[nodiscard]] bool report_front_outcome(int socket, const FrontOutcome& outcome);
// Waits (briefly) until the service says the reported outcome is in the audit, so that
// pendrel's answer never arrives before its audit line.
void await_outcome_recorded(int socket);
[[nodiscard]] bool send_front_file(int socket, int fd, const std::string& local);
[[nodiscard]] bool send_front_result(int socket, const std::expected<void, ErrorBody>& result);

}  // namespace pendrel::desktop
