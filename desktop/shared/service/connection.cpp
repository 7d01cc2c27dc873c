// One connection from accept to close.
#include "desktop/shared/service/connection.h"

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "desktop/front/session/front_session.h"
#include "desktop/shared/link/front_work.h"
#include "desktop/shared/service/answer_fit.h"
#include "desktop/shared/service/app_version.h"
#include "desktop/shared/service/request_router.h"
#include "desktop/shared/store/json_object_reader.h"
#include "protocol/channel.h"
#include "protocol/frame_reader.h"
#include "protocol/os_error.h"
#include "protocol/request_decoding.h"

namespace pendrel::desktop {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A client that stops reading its answer must not hold a worker either.
constexpr timeval send_wait{30, 0};

std::uint64_t milliseconds_since(Clock::time_point start) {
  auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  return static_cast<std::uint64_t>(std::max<long long>(elapsed.count(), 0));
}

class Session {
 public:
  Session(UniqueFd socket, ServiceContext& context)
      : socket_(std::move(socket)), context_(context) {}

  void run() {
    if (!check_peer()) return;
    if (context_.in_broker && !read_origin()) return;
    auto hello = read_payload("Hello");
    if (!hello) return;
    if (!handshake(hello->view())) return;
    auto request = read_payload("request");
    if (!request) return;
    answer_request(request->view());
  }

 private:
  bool check_peer() {
    ucred peer{};
    socklen_t length = sizeof peer;
    if (::getsockopt(socket_.get(), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) {
      context_.log.write("connection dropped: cannot read its credentials");
      return false;
    }
    origin_.pid = peer.pid;
    if (peer.uid != ::getuid()) {
      context_.log.write("refused a connection from uid " + std::to_string(peer.uid) + " (pid " +
                         std::to_string(peer.pid) + ")");
      return false;
    }
    origin_.socket = socket_.get();
    ::setsockopt(socket_.get(), SOL_SOCKET, SO_SNDTIMEO, &send_wait, sizeof send_wait);
    return true;
  }

  // In the broker, pendrel's pid comes first, from the broker itself: only the broker's
  // account can reach this socket.
  bool read_origin() {
    auto frame = read_frame(socket_.get(), 4096,
                            FrameWait{Clock::now() + context_.frame_wait, context_.abandon.fd()});
    if (!frame) return false;  // a probe of the broker's: nothing worth a line
    ParsedObject parsed;
    if (!parse_object(frame->view(), parsed)) return false;
    auto reader = ObjectReader::over(parsed.object);
    if (!reader) return false;
    if (auto pid = reader->unsigned_integer("pid"); pid && *pid)
      origin_.pid = static_cast<pid_t>(**pid);
    return true;
  }

  std::optional<PaddedPayload> read_payload(std::string_view what) {
    auto frame = read_frame(socket_.get(), max_request_bytes,
                            FrameWait{Clock::now() + context_.frame_wait, context_.abandon.fd()});
    if (frame) return std::move(*frame);
    // A probe (the person's `status`) hangs up after the welcome: nothing worth a line.
    if (what == "request" && frame.error().kind == FrameError::Kind::closed) return std::nullopt;
    context_.log.write("connection from pid " + std::to_string(origin_.pid) +
                       " dropped before its " + std::string(what) + ": " + frame.error().text());
    return std::nullopt;
  }

  bool handshake(std::string_view payload) {
    auto hello = decode_hello(payload);
    if (!hello) {
      refuse(error_answer(ErrorCode::bad_request, "Hello: " + hello.error()));
      return false;
    }
    origin_.language = hello->lang == "en" ? AnswerLanguage::en : AnswerLanguage::zh;
    if (hello->protocol == 0) {
      refuse(error_answer(
          ErrorCode::protocol_mismatch,
          "protocol 0 is older than this service's protocol " + std::to_string(service_protocol)));
      return false;
    }
    if (context_.store.settings().external_cli == ExternalCli::off ||
        context_.vault.external_cli_off()) {
      refuse(error_answer(ErrorCode::cli_disabled));
      return false;
    }
    return send(Welcome{service_protocol, std::string(app_version)});
  }

  // A refused handshake is recorded like a request, so that the audit shows every attempt.
  void refuse(ErrorBody error) {
    AuditEntry entry;
    entry.client_pid = origin_.pid;
    entry.kind = "hello";
    entry.outcome = error.code;
    record(entry);
    context_.log.write("handshake with pid " + std::to_string(origin_.pid) +
                       " refused: " + error.code);
    (void)send(std::move(error));
  }

  void answer_request(std::string_view payload) {
    auto start = Clock::now();
    auto request = decode_request(payload);
    Handled handled;
    if (request) {
      handled = handle_request(*request, origin_, context_);
    } else {
      context_.log.write("bad request from pid " + std::to_string(origin_.pid) + ": " +
                         request.error());
      handled.audit.client_pid = origin_.pid;
      handled.audit.kind = "unknown";
      handled.audit.outcome = "bad_request";
      handled.answer = error_answer(ErrorCode::bad_request, request.error());
    }
    handled.audit.duration_ms = milliseconds_since(start);
    record(handled.audit);
    if (handled.answered_by_front)
      (void)confirm_outcome_recorded(socket_.get());
    else
      (void)send(std::move(handled.answer));
    if (handled.stop_service) context_.stop.fire();
  }

  void record(const AuditEntry& entry) {
    if (auto written = context_.audit.record(entry); !written) {
      context_.log.write("cannot write the audit log: " + os_error_text(written.error()));
    }
    context_.approvals.publish(entry);  // the attached consoles show it live
  }

  bool send(Response answer) {
    auto written = write_frame(socket_.get(), encode_answer_within(std::move(answer)));
    if (written) return true;
    context_.log.write("answer to pid " + std::to_string(origin_.pid) +
                       " not delivered: " + written.error().text());
    return false;
  }

  UniqueFd socket_;
  ServiceContext& context_;
  RequestOrigin origin_;
};

}  // namespace

void serve_connection(UniqueFd socket, ServiceContext& context) {
  if (context.broker) return serve_through_broker(std::move(socket), context, *context.broker);
  Session(std::move(socket), context).run();
}

}  // namespace pendrel::desktop
