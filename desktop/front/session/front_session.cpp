#include "desktop/front/session/front_session.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>

#include "desktop/broker/ssh/sftp_channel.h"
#include "desktop/front/runner/local_exec.h"
#include "desktop/front/runner/local_transfer.h"
#include "desktop/front/session/download_target.h"
#include "desktop/front/session/front_terminals.h"
#include "desktop/front/session/personal_broker.h"
#include "desktop/shared/link/broker_connection.h"
#include "desktop/shared/link/descriptor_frames.h"
#include "desktop/shared/link/front_work.h"
#include "desktop/shared/service/answer_fit.h"
#include "desktop/shared/service/request_router.h"
#include "desktop/shared/terminal/terminal_exec.h"
#include "protocol/channel.h"
#include "protocol/frame_reader.h"
#include "protocol/json_writer.h"
#include "protocol/lexical_path.h"
#include "protocol/request_decoding.h"

namespace pendrel::desktop {
namespace {

using Clock = std::chrono::steady_clock;

class FrontSession {
 public:
  FrontSession(UniqueFd socket, ServiceContext& context, const BrokerAddress& broker)
      : socket_(std::move(socket)), context_(context), address_(broker) {}

  void run() {
    ucred peer{};
    socklen_t length = sizeof peer;
    if (::getsockopt(socket_.get(), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 ||
        peer.uid != ::getuid()) {
      context_.log.write("refused a connection from uid " + std::to_string(peer.uid));
      return;
    }
    pid_ = peer.pid;
    auto hello = read_client_frame();
    if (!hello) {
      context_.log.write("connection from pid " + std::to_string(pid_) +
                         " dropped before its Hello: " + hello.error().text());
      return;
    }
    if (asks_for_terminal(hello->view())) {
      if (context_.serve_terminal != nullptr)
        context_.serve_terminal(std::move(socket_), context_, pid_, std::move(*hello));
      return;
    }
    if (!open_broker()) return;
    // The broker's answer to the Hello is pendrel's: a refusal (CLI access off) is its own.
    if (!forward(broker_.get(), hello->view())) return;
    auto welcome = read_broker_frame();
    if (!welcome || !forward(socket_.get(), welcome->view())) return;
    auto request_frame = read_client_frame();
    if (!request_frame) {
      // A probe (the person's `status`) hangs up after the welcome: nothing worth a line.
      if (request_frame.error().kind != FrameError::Kind::closed)
        context_.log.write("connection from pid " + std::to_string(pid_) +
                           " dropped before its request: " + request_frame.error().text());
      return;
    }
    auto request = decode_request(request_frame->view());
    if (request && (std::holds_alternative<ActivateRequest>(*request) ||
                    std::holds_alternative<QuitRequest>(*request))) {
      broker_.reset();
      Handled handled = handle_request(
          *request, RequestOrigin{socket_.get(), pid_, AnswerLanguage::en}, context_);
      (void)write_frame(socket_.get(), encode_answer_within(std::move(handled.answer)));
      if (handled.stop_service) context_.stop.fire();
      return;
    }
    if (!forward(broker_.get(), request_frame->view())) return;
    request_sent_ = true;
    if (client_done_) ::shutdown(broker_.get(), SHUT_WR);
    for (;;) {
      auto answer = read_broker_frame();
      if (!answer) return;
      auto step = request ? front_step(answer->view()) : std::nullopt;
      if (!step) {
        (void)forward(socket_.get(), answer->view());
        return;
      }
      switch (step->kind) {
        case FrontStep::Kind::run_local:
          return run_here(*request, step->host);
        case FrontStep::Kind::open_file:
          if (!open_file(*request)) return;
          break;
        case FrontStep::Kind::install:
          if (!send_front_result(broker_.get(), temporary_.install(step->mode))) return;
          break;
      }
    }
  }

 private:
  std::expected<PaddedPayload, FrameError> read_client_frame() {
    return read_frame(socket_.get(), max_request_bytes,
                      FrameWait{Clock::now() + context_.frame_wait, context_.abandon.fd()});
  }

  // However long the broker takes (an exec, a person's approval): until pendrel hangs up,
  // which then reaches the broker as this connection's end.
  std::optional<PaddedPayload> read_broker_frame() {
    for (;;) {
      pollfd fds[3] = {{broker_.get(), POLLIN, 0},
                       {client_done_ ? -1 : socket_.get(), POLLRDHUP, 0},
                       {context_.abandon.fd(), POLLIN, 0}};
      if (::poll(fds, 3, -1) < 0) continue;
      if (fds[2].revents != 0) return std::nullopt;
      if (fds[1].revents != 0) {
        // pendrel stopped sending, or hung up: the broker's service learns it as a service
        // of its own would, ends a long command, and still answers what it already has.
        client_done_ = true;
        if (request_sent_) ::shutdown(broker_.get(), SHUT_WR);
        continue;
      }
      if (fds[0].revents == 0) continue;
      auto frame = read_frame(broker_.get(), max_answer_bytes,
                              FrameWait{Clock::now() + context_.frame_wait, context_.abandon.fd()});
      if (!frame) {
        context_.log.write("the broker's answer for pid " + std::to_string(pid_) +
                           " did not arrive: " + frame.error().text());
        return std::nullopt;
      }
      return std::move(*frame);
    }
  }

  bool forward(int to, std::string_view payload) { return write_frame(to, payload).has_value(); }

  bool open_broker() {
    auto connected = connect_to_broker(address_);
    // Personal mode: the front's own broker, gone for whatever reason, is started again.
    if (!connected && connected.error().kind == BrokerFailure::Kind::unreachable &&
        context_.personal_broker != nullptr) {
      if (auto started = context_.personal_broker->ensure_running(); started)
        connected = connect_to_broker(address_);
      else
        connected = std::unexpected(BrokerFailure{BrokerFailure::Kind::other, started.error()});
    }
    if (!connected) {
      context_.log.write("cannot reach the broker: " + connected.error().text);
      (void)write_frame(socket_.get(), encode_answer_within(error_answer(ErrorCode::app_not_running,
                                                                         connected.error().text)));
      return false;
    }
    broker_ = std::move(*connected);
    JsonWriter opening;
    opening.begin_object().key("kind").string("cli").key("pid").integer(pid_).end_object();
    return write_frame_with_descriptors(broker_.get(), opening.take(), {}).has_value();
  }

  // The broker allowed a LOCAL host's work: it runs here, as the person.
  void run_here(const Request& request, const FrontHost& host) {
    CancelWatch cancel{{socket_.get(), context_.abandon.fd()}};
    FrontOutcome outcome;
    Response answer;
    const auto* exec = std::get_if<ExecRequest>(&request);
    if (exec != nullptr && exec->terminal == TerminalMode::on) {
      answer = exec_in_local_terminal(*exec, host, outcome);
    } else if (exec != nullptr) {
      auto result = run_local_command(exec->command, context_.home_dir, cancel);
      if (!result && result.error().code == "canceled") log_canceled();
      if (result) {
        outcome.exit_code = result->exit_code;
        outcome.bytes = result->stdout_text.size() + result->stderr_text.size();
        answer = std::move(*result);
      } else {
        outcome.outcome = result.error().code;
        answer = std::move(result.error());
      }
    } else if (const auto* transfer = std::get_if<UploadRequest>(&request)) {
      answer = copy(Direction::upload, *transfer, outcome);
    } else if (const auto* download = std::get_if<DownloadRequest>(&request)) {
      answer = copy(Direction::download, *download, outcome);
    }
    if (report_front_outcome(broker_.get(), outcome)) await_outcome_recorded(broker_.get());
    (void)write_frame(socket_.get(), encode_answer_within(std::move(answer)));
  }

  // The person's LOCAL terminals are this process's: the command is typed here.
  Response exec_in_local_terminal(const ExecRequest& exec, const FrontHost& host,
                                  FrontOutcome& outcome) {
    if (context_.terminals == nullptr) {
      outcome.outcome = "terminal_not_open";
      return error_answer(ErrorCode::terminal_not_open, "this pendrel-desktop keeps no terminals");
    }
    auto typed = exec_in_terminal(*context_.terminals, host.id, host.name, exec.command,
                                  {socket_.get(), context_.abandon.fd()});
    outcome.terminal = typed.terminal_id;
    if (!typed.result) {
      if (typed.result.error().code == "canceled") log_canceled();
      outcome.outcome = typed.result.error().code;
      return std::move(typed.result.error());
    }
    outcome.exit_code = typed.result->exit_code;
    outcome.bytes = typed.result->stdout_text.size();
    return std::move(*typed.result);
  }

  Response copy(Direction direction, const TransferRequest& request, FrontOutcome& outcome) {
    std::string local = absolute_lexically(request.local, context_.home_dir);
    std::string remote = absolute_lexically(request.remote, context_.home_dir);
    auto result = direction == Direction::upload ? copy_local_file(direction, local, remote)
                                                 : copy_local_file(direction, remote, local);
    if (!result) {
      outcome.outcome = result.error().code;
      return std::move(result.error());
    }
    outcome.bytes = result->bytes;
    outcome.local = result->local;
    outcome.remote = result->remote;
    return std::move(*result);
  }

  // An SSH transfer's local file, opened here with the person's permissions.
  bool open_file(const Request& request) {
    const TransferRequest* transfer = nullptr;
    if (const auto* upload = std::get_if<UploadRequest>(&request)) transfer = upload;
    if (const auto* download = std::get_if<DownloadRequest>(&request)) transfer = download;
    if (transfer == nullptr) return false;
    std::string local = absolute_lexically(transfer->local, context_.home_dir);
    if (std::holds_alternative<UploadRequest>(request)) {
      UniqueFd source(::open(local.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
      if (!source)
        return send_front_result(broker_.get(),
                                 std::unexpected(local_failure(errno, "read", local)));
      return send_front_file(broker_.get(), source.get(), local);
    }
    auto made = temporary_.make(local, transfer->remote);
    if (!made) return send_front_result(broker_.get(), std::unexpected(made.error()));
    return send_front_file(broker_.get(), temporary_.fd(), temporary_.target());
  }

  // Says in the log why a LOCAL command ended before its answer, as the service does.
  void log_canceled() {
    pollfd caller{socket_.get(), POLLIN | POLLRDHUP, 0};
    const char* why = context_.abandon.fired()    ? "the service is stopping"
                      : ::poll(&caller, 1, 0) > 0 ? "the caller closed its connection"
                                                  : "it reached the host's time limit";
    context_.log.write("exec for pid " + std::to_string(pid_) + " ended: " + why);
  }

  UniqueFd socket_;
  ServiceContext& context_;
  const BrokerAddress& address_;
  bool client_done_ = false;  // pendrel sends no more: the broker is told after the request
  bool request_sent_ = false;
  DownloadTarget temporary_;
  UniqueFd broker_;
  pid_t pid_ = 0;
};

}  // namespace

void serve_through_broker(UniqueFd socket, ServiceContext& context, const BrokerAddress& broker) {
  FrontSession(std::move(socket), context, broker).run();
}

}  // namespace pendrel::desktop
