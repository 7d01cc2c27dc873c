#include "mcp/calls.h"

#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <stop_token>
#include <thread>

#include "app/version.h"
#include "client/diagnostics.h"
#include "client/service_request.h"
#include "client/upload_source.h"
#include "i18n/message.h"
#include "mcp/messages.h"
#include "protocol/fd_io.h"
#include "protocol/json_writer.h"
#include "protocol/response_decoding_canonical.h"
#include "protocol/unique_fd.h"

namespace pendrel::mcp {

struct RunningCalls::State {
  ToolCall call;
  std::mutex mutex;
  bool cancelled = false;
  // A duplicate of the exchange's socket while it runs: shutting it down ends the exchange,
  // and it cannot be closed under the exchange's feet, nor be a reused number.
  UniqueFd socket;
};

namespace {

// What the handshake calls us, so that the service's log tells the two front ends apart.
const std::string& handshake_name() {
  static const std::string name = "pendrel-mcp " + std::string(program_version);
  return name;
}

void log_line(std::string_view text) {
  std::string line = "[pendrel-mcp] ";
  line += text;
  line += '\n';
  (void)write_all(STDERR_FILENO, line);
}

std::string progress_params(const RequestId& token, std::uint64_t seconds, Language language) {
  JsonWriter json;
  json.begin_object().key("progressToken");
  write_id(json, token);
  json.key("progress").unsigned_integer(seconds);
  json.key("message").string(format_message(mcp_messages::still_waiting, language, seconds));
  json.end_object();
  return json.take();
}

}  // namespace

bool RunningCalls::start(ToolCall call) {
  auto state = std::make_shared<State>();
  const std::string key = id_key(call.id);
  state->call = std::move(call);
  {
    const std::lock_guard lock(mutex_);
    if (!running_.emplace(key, state).second) return false;
  }
  std::thread([this, state] { run(state); }).detach();
  return true;
}

void RunningCalls::cancel_state(State& state) {
  const std::lock_guard lock(state.mutex);
  state.cancelled = true;
  if (state.socket) ::shutdown(state.socket.get(), SHUT_RDWR);
}

void RunningCalls::cancel(const RequestId& id) {
  const std::lock_guard lock(mutex_);
  auto found = running_.find(id_key(id));
  if (found == running_.end()) return;
  cancel_state(*found->second);
  log_line("call " + found->first.substr(1) + " cancelled");
}

bool RunningCalls::cancel_all_and_wait(std::chrono::milliseconds grace) {
  std::unique_lock lock(mutex_);
  for (auto& [key, state] : running_)
    cancel_state(*state);
  return ended_.wait_for(lock, grace, [&] { return running_.empty(); });
}

void RunningCalls::run(const std::shared_ptr<State>& state) {
  std::jthread ticker;
  if (state->call.progress_token) {
    ticker = std::jthread([this, state](std::stop_token stop) { send_progress(stop, *state); });
  }
  std::string result = outcome(*state);
  ticker = {};  // stopped and joined: no progress after the answer
  {
    const std::lock_guard lock(state->mutex);
    if (!state->cancelled) out_.write(result_line(state->call.id, result));
  }
  const std::lock_guard lock(mutex_);
  running_.erase(id_key(state->call.id));
  ended_.notify_all();
}

std::string RunningCalls::outcome(State& state) {
  const ToolCall& call = state.call;
  const Language language = settings_.language;
  if (const auto* upload = std::get_if<UploadRequest>(&call.request)) {
    if (auto failure = examine_upload_source(upload->local, language)) {
      return failure_result(*failure, language, call.era);
    }
  }
  const Diagnostics diagnostics(settings_.environment);
  auto connection =
      connect_to_service(settings_.environment, {handshake_name(), language}, diagnostics);
  if (!connection) return failure_result(connection.error(), language, call.era);
  {
    const std::lock_guard lock(state.mutex);
    if (state.cancelled) return {};
    state.socket.reset(::dup(connection->socket.get()));
  }
  auto received = exchange_with_service(*connection, call.request, language, diagnostics);
  {
    const std::lock_guard lock(state.mutex);
    state.socket.reset();
  }
  if (!received) return failure_result(received.error(), language, call.era);
  const Response answer =
      received->canonical ? to_response(*received->canonical) : std::move(received->decoded);
  return answer_result(call.tool, answer, settings_.output_bound, language, call.era);
}

void RunningCalls::send_progress(std::stop_token stop, State& state) {
  std::mutex mutex;
  std::condition_variable_any wake;
  std::unique_lock lock(mutex);
  const auto interval = settings_.progress_interval;
  for (auto waited = interval;; waited += interval) {
    if (wake.wait_for(lock, stop, interval, [&] { return stop.stop_requested(); })) return;
    const std::lock_guard state_lock(state.mutex);
    if (state.cancelled) return;
    const auto seconds = static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::seconds>(waited).count());
    out_.write(notification_line(
        "notifications/progress",
        progress_params(*state.call.progress_token, seconds, settings_.language)));
  }
}

}  // namespace pendrel::mcp
