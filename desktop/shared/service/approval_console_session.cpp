#include "desktop/shared/service/approval_console_session.h"

#include <poll.h>
#include <sodium.h>
#include <sys/socket.h>

#include <simdjson.h>
#include <cerrno>
#include <chrono>

#include "desktop/shared/audit/utc_time.h"
#include "desktop/shared/service/approval_events.h"
#include "protocol/channel.h"
#include "protocol/frame_reader.h"

namespace pendrel::desktop {
namespace {

using namespace std::chrono_literals;

// A decision is small; a secret is at most a password's length.
constexpr std::uint32_t max_decision_bytes = 16 * 1024;
// Once a decision's first byte is in, the rest follows at once.
constexpr auto decision_frame_wait = 10s;
// A console that does not take its events for this long is gone as far as we are concerned.
constexpr timeval send_wait{10, 0};

class ConsoleSession {
 public:
  ConsoleSession(UniqueFd socket, ServiceContext& context, pid_t pid)
      : socket_(std::move(socket)), context_(context), pid_(pid) {}

  void run() {
    ::setsockopt(socket_.get(), SOL_SOCKET, SO_SNDTIMEO, &send_wait, sizeof send_wait);
    link_ = context_.approvals.attach(pid_);
    if (!link_) {
      context_.log.write("refused a console (pid " + std::to_string(pid_) +
                         "): " + std::to_string(max_consoles) + " are attached already");
      (void)write_frame(socket_.get(), R"({"ok":false,"error":"too many consoles are attached"})");
      return;
    }
    context_.log.write("console attached (pid " + std::to_string(pid_) + ")");
    show_open_terminals();
    std::string why = serve();
    context_.approvals.detach(link_);
    context_.log.write("console detached (pid " + std::to_string(pid_) + "): " + why);
  }

 private:
  // The SSH terminals open before the console came, as the line of their opening; what
  // happens to them later arrives as it happens.
  void show_open_terminals() {
    if (context_.terminals == nullptr) return;
    for (const auto& terminal : context_.terminals->list()) {
      AuditEntry entry;
      entry.kind = "terminalOpen";
      entry.host_id = terminal.host_id;
      entry.host_name = terminal.host_name;
      entry.terminal = terminal.id;
      entry.outcome = terminal.attached ? "attached" : "detached";
      (void)write_frame(socket_.get(), request_event(entry, utc_timestamp(terminal.opened)));
    }
  }

  // Until the console or the service goes; says why.
  std::string serve() {
    while (true) {
      for (auto& frame : link_->take()) {
        if (auto sent = write_frame(socket_.get(), frame); !sent)
          return "cannot send to it: " + sent.error().text();
      }
      if (link_->overflowed()) return "it stopped reading its events";
      pollfd fds[4] = {{socket_.get(), POLLIN | POLLRDHUP, 0},
                       {link_->wake_fd(), POLLIN, 0},
                       {context_.stop.fd(), POLLIN, 0},
                       {context_.abandon.fd(), POLLIN, 0}};
      if (::poll(fds, 4, -1) < 0) {
        if (errno == EINTR) continue;
        return "poll failed";
      }
      if (fds[2].revents != 0 || fds[3].revents != 0) return "the service is stopping";
      if (fds[0].revents == 0) continue;
      auto frame = read_frame(
          socket_.get(), max_decision_bytes,
          FrameWait{std::chrono::steady_clock::now() + decision_frame_wait, context_.abandon.fd()});
      if (!frame)
        return frame.error().kind == FrameError::Kind::closed ? "closed" : frame.error().text();
      std::string reply = decide(*frame);
      // A decision may hold a secret: it does not outlive its answer.
      sodium_memzero(frame->bytes.get(), frame->size);
      if (auto sent = write_frame(socket_.get(), reply); !sent)
        return "cannot send to it: " + sent.error().text();
    }
  }

  // The console's decision and the verdict to send back.
  std::string decide(const PaddedPayload& frame) {
    simdjson::dom::parser parser;
    simdjson::dom::object object;
    // The payload is padded already: no copy of a secret is made on the way.
    if (parser.parse(reinterpret_cast<const std::uint8_t*>(frame.bytes.get()), frame.size, false)
            .get_object()
            .get(object))
      return verdict_event(0, "not_waiting", "not a JSON object");
    std::string_view op;
    std::uint64_t id = 0;
    if (object["op"].get_string().get(op) || object["id"].get_uint64().get(id))
      return verdict_event(0, "not_waiting", "a decision needs \"op\" and \"id\"");
    std::string who = " by the console of pid " + std::to_string(pid_);
    if (op == "refuse") {
      bool settled = context_.approvals.settle(id, ApprovalEnd::refused);
      if (settled) context_.log.write("match " + std::to_string(id) + " refused" + who);
      return verdict_event(id, settled ? "refused" : "not_waiting");
    }
    if (op != "approve") return verdict_event(id, "not_waiting", "unknown op");
    std::string_view secret_text;
    if (object["secret"].get_string().get(secret_text))
      return verdict_event(id, "not_waiting", "an approval needs \"secret\"");
    SecretString secret = SecretString::copy_of(secret_text);
    // The parser's unescaped copy, the only other one.
    sodium_memzero(const_cast<char*>(secret_text.data()), secret_text.size());
    if (!context_.approvals.is_waiting(id)) return verdict_event(id, "not_waiting");
    bool pin_accepted = context_.approvals.begin_secret_check();
    ApprovalSecret checked = context_.vault.check_approval_secret(secret, pin_accepted);
    if (checked != ApprovalSecret::none) context_.approvals.secret_was_right();
    if (checked == ApprovalSecret::none) {
      context_.log.write("match " + std::to_string(id) + ": a wrong secret" + who);
      return verdict_event(id, "wrong_secret",
                           pin_accepted ? "neither the approval PIN nor the master password"
                                        : "not the master password (after " +
                                              std::to_string(max_wrong_secrets) +
                                              " wrong secrets only the master password approves, "
                                              "until the next unlock)");
    }
    bool settled = context_.approvals.settle(id, ApprovalEnd::approved);
    if (settled)
      context_.log.write("match " + std::to_string(id) + " approved with the " +
                         (checked == ApprovalSecret::pin ? "PIN" : "master password") + who);
    return verdict_event(id, settled ? "approved" : "not_waiting");
  }

  UniqueFd socket_;
  ServiceContext& context_;
  pid_t pid_;
  std::shared_ptr<ConsoleLink> link_;
};

}  // namespace

void serve_console(UniqueFd socket, ServiceContext& context, pid_t pid) {
  ConsoleSession(std::move(socket), context, pid).run();
}

}  // namespace pendrel::desktop
