// The server's side of the Model Context Protocol: each line read from the client is answered
// here, in either revision era, and tool calls are handed to RunningCalls.
#pragma once

#include <simdjson.h>

#include <string_view>

#include "mcp/calls.h"
#include "mcp/line_writer.h"

namespace pendrel::mcp {

// The revisions answered after `initialize`, newest first; the first is offered to a client
// that asks for another.
inline constexpr std::string_view handshake_versions[] = {"2025-11-25", "2025-06-18"};
// The stateless revision, whose requests name it in their _meta.
inline constexpr std::string_view stateless_version = "2026-07-28";

class Server {
 public:
  Server(const CallSettings& settings, LineWriter& out, RunningCalls& calls)
      : settings_(settings), out_(out), calls_(calls) {}

  // Answers one line (without its line feed): a protocol fault as a JSON-RPC error, a request
  // with its result, tools/call by starting the call; notifications get no answer.
  void handle_line(std::string_view line);

 private:
  void handle(const RpcMessage& message);
  void answer(const RpcMessage& message, Era era);
  void start_call(const RpcMessage& message, Era era);

  const CallSettings& settings_;
  LineWriter& out_;
  RunningCalls& calls_;
  simdjson::dom::parser parser_;
  bool initialized_ = false;
};

}  // namespace pendrel::mcp
