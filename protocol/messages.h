// The messages of the channel: the requests this program sends, the answers it accepts,
// the records they carry, and the debug rendering of an answer.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace pendrel {

enum class TerminalMode { off, on };

// Requests.
struct ListHostsRequest {
  std::string query;
};
struct ExecRequest {
  std::string host;
  std::string command;
  TerminalMode terminal = TerminalMode::off;
  std::vector<std::string> caller;
};
struct TransferRequest {
  std::string host;
  std::string local;
  std::string remote;
  std::vector<std::string> caller;
};
struct UploadRequest : TransferRequest {};
struct DownloadRequest : TransferRequest {};
struct ActivateFile {
  std::string path;
  std::vector<std::uint8_t> data;
};
struct ActivateRequest {
  std::vector<std::string> args;
  std::vector<ActivateFile> files;
};
struct QuitRequest {};

using Request = std::variant<ListHostsRequest, ExecRequest, UploadRequest, DownloadRequest,
                             ActivateRequest, QuitRequest>;

// Answer records.
struct Welcome {
  std::uint32_t protocol = 0;
  std::string app_version;
};
struct HostSummary {
  std::string id;
  std::string name;
  std::string host;
  std::uint16_t port = 0;
  std::string username;
  std::string protocol;
};
struct ExecResponse {
  std::int32_t exit_code = 0;
  std::string stdout_text;
  std::string stderr_text;
  bool truncated = false;
  std::uint64_t duration_ms = 0;
};
struct TransferResponse {
  std::string local;
  std::string remote;
  std::uint64_t bytes = 0;
  std::uint64_t duration_ms = 0;
};
struct ErrorBody {
  std::string code;
  std::string message;
};

// Answers.
struct HostsAnswer {
  std::vector<HostSummary> hosts;
};
struct OkAnswer {};

using Response =
    std::variant<Welcome, HostsAnswer, ExecResponse, TransferResponse, OkAnswer, ErrorBody>;

// The handshake's opening message; a plain object, not wrapped in "type" and "data".
struct Hello {
  std::uint32_t protocol = 1;
  std::string client;
  std::string lang;
};

// Compact JSON, keys in the fixed order; "terminal" only when on, "caller" and "files" only
// when not empty. Never fails.
[[nodiscard]] std::string encode_request(const Request& request);
[[nodiscard]] std::string encode_hello(const Hello& hello);

// Decodes one answer payload, validating it fully. `payload` must have at least
// simdjson::SIMDJSON_PADDING readable bytes after its end. The error is the decoder's
// description, "{fault} at line {l} column {c}".
[[nodiscard]] std::expected<Response, std::string> decode_response(std::string_view payload);

// For example `Ok` or `Transfer(TransferResponse { local: "/tmp/a", ... })`.
[[nodiscard]] std::string debug_render(const Response& response);

}  // namespace pendrel
