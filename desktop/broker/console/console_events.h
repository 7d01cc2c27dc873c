// The console's reading of what the service pushes on run/admin.sock, and the decisions it
// sends back (the frames are described in desktop/service/approval_events.h).
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "desktop/broker/vault/secret_bytes.h"
#include "protocol/frame_reader.h"

namespace pendrel::desktop {

struct AttachedEvent {};

// A handled request, from its audit line.
struct RequestFeed {
  std::string time;  // 2026-12-08T03:04:05.678Z
  std::int64_t pid = 0;
  std::vector<std::string> callers;
  std::string kind;
  std::string host;  // its name, else its id
  std::string command;
  std::string local;
  std::string remote;
  std::string terminal;  // a terminal's id, and why it ended when it was cut off
  std::string reason;
  std::string outcome;
  std::optional<std::int64_t> exit_code;
  std::uint64_t duration_ms = 0;
  std::string rule;
  std::string approval;
};

// A rule match waiting for the person.
struct AskEvent {
  std::uint64_t id = 0;
  std::string host;
  std::vector<std::string> callers;
  std::string command;
  std::size_t match_begin = 0;  // within `command`, checked to lie inside it
  std::size_t match_end = 0;
  std::uint64_t omitted_before = 0;  // bytes of a long command not sent
  std::uint64_t omitted_after = 0;
  std::string rule;
  std::string description_en;
  std::string description_zh;
  std::uint64_t wait_ms = 0;
};

struct SettledEvent {
  std::uint64_t id = 0;
  std::string end;  // approved, refused, timed_out, detached, locked, caller_gone, stopping
};

struct VerdictEvent {
  std::uint64_t id = 0;
  std::string result;  // approved, refused, wrong_secret, not_waiting
  std::string message;
};

using ConsoleEvent = std::variant<AttachedEvent, RequestFeed, AskEvent, SettledEvent, VerdictEvent>;

// One pushed frame; an error names what is wrong (an unknown event included).
[[nodiscard]] std::expected<ConsoleEvent, std::string> decode_console_event(
    const PaddedPayload& frame);

[[nodiscard]] std::string console_request();
[[nodiscard]] std::string refusal_request(std::uint64_t id);
// Holds the secret, so it lives in guarded memory.
[[nodiscard]] SecretBytes approval_request(std::uint64_t id, const SecretString& secret);

}  // namespace pendrel::desktop
