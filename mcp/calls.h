// The tool calls in progress: each on a thread and a service connection of its own, with its
// progress notifications, its cancellation and its one answer.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "i18n/language.h"
#include "mcp/json_rpc.h"
#include "mcp/line_writer.h"
#include "mcp/tool_result.h"
#include "mcp/tools.h"
#include "protocol/environment.h"
#include "protocol/messages.h"

namespace pendrel::mcp {

// What every call needs, read once when the server starts.
struct CallSettings {
  const Environment& environment;
  Language language = Language::zh;
  std::size_t output_bound = 0;
  std::chrono::milliseconds progress_interval{10000};
};

// One tools/call whose arguments passed their checks.
struct ToolCall {
  RequestId id;
  std::optional<RequestId> progress_token;
  Era era = Era::legacy;
  Tool tool = Tool::list_hosts;
  Request request;
};

class RunningCalls {
 public:
  RunningCalls(const CallSettings& settings, LineWriter& out) : settings_(settings), out_(out) {}
  RunningCalls(const RunningCalls&) = delete;
  RunningCalls& operator=(const RunningCalls&) = delete;

  // Runs `call` on a thread of its own, which writes its answer; while it waits, a progress
  // notification every progress_interval when the call gave a token. False, and nothing started,
  // when a call with the same id is still running.
  [[nodiscard]] bool start(ToolCall call);

  // Shuts the call's service connection down, so that the service ends its command, and sends
  // nothing more for it. Unknown or finished ids are ignored.
  void cancel(const RequestId& id);

  // cancel for every call, then waits up to `grace` for their threads; false when some are
  // still running (one still starting the desktop application, say).
  [[nodiscard]] bool cancel_all_and_wait(std::chrono::milliseconds grace);

 private:
  struct State;

  void run(const std::shared_ptr<State>& state);
  // The call's result; the connection is reachable by cancel() while it is exchanged.
  [[nodiscard]] std::string outcome(State& state);
  void send_progress(std::stop_token stop, State& state);
  static void cancel_state(State& state);

  const CallSettings& settings_;
  LineWriter& out_;
  std::mutex mutex_;
  std::condition_variable ended_;
  std::map<std::string, std::shared_ptr<State>> running_;
};

}  // namespace pendrel::mcp
