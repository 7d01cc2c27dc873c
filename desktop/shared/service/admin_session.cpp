#include "desktop/shared/service/admin_session.h"

#include <sodium.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "desktop/shared/service/admin_password.h"
#include "desktop/shared/service/approval_console_session.h"
#include "desktop/shared/store/json_object_reader.h"
#include "protocol/channel.h"
#include "protocol/frame_reader.h"
#include "protocol/json_writer.h"

namespace pendrel::desktop {
namespace {

using namespace std::chrono_literals;

// A password is small; anything near this is not one of our commands.
constexpr std::uint32_t max_admin_request_bytes = 64 * 1024;
// The person may be slow to type, but the command reads the password before it connects.
constexpr auto admin_frame_wait = 30s;

std::string status_answer(const VaultStatus& status, std::size_t terminals) {
  JsonWriter writer;
  writer.begin_object()
      .key("ok")
      .boolean(true)
      .key("state")
      .string(vault_state_name(status.state))
      .key("appLocked")
      .boolean(status.app_locked)
      .key("idleLockSeconds")
      .unsigned_integer(status.idle_lock_seconds)
      .key("terminals")
      .unsigned_integer(terminals);
  if (status.unlock_refused) writer.key("unlockRefused").string(*status.unlock_refused);
  writer.end_object();
  return writer.text();
}

std::string failure_answer(std::string_view error) {
  JsonWriter writer;
  writer.begin_object().key("ok").boolean(false).key("error").string(error).end_object();
  return writer.text();
}

std::size_t open_terminals(ServiceContext& context) {
  return context.terminals != nullptr ? context.terminals->list().size() : 0;
}

// The answer to the request; nothing for {"op":"console"}, which the connection becomes.
std::optional<std::string> answer(const PaddedPayload& frame, ServiceContext& context, pid_t pid) {
  ParsedObject parsed;
  if (auto valid = parse_admin_request(frame, parsed); !valid) return failure_answer(valid.error());
  auto reader = ObjectReader::over(parsed.object);
  if (!reader) return failure_answer(reader.error());
  auto op = reader->string("op");
  if (!op || !*op) return failure_answer("\"op\" must be a string");
  std::string who = " (pid " + std::to_string(pid) + ")";
  if (**op == "status") return status_answer(context.vault.status(), open_terminals(context));
  if (**op == "console") return std::nullopt;
  if (**op == "lock") {
    auto all = reader->boolean("all");
    if (!all) return failure_answer(all.error());
    context.vault.lock(all->value_or(false));
    context.log.write("lock requested" + who);
    context.approvals.settle_all_locked();  // nothing waiting for approval runs after a lock
    return status_answer(context.vault.status(), open_terminals(context));
  }
  if (**op == "unlock" || **op == "reload") {
    bool reload = **op == "reload";
    auto password = take_password(parsed);
    if (!password) return failure_answer(password.error());
    auto unlocked = reload ? context.vault.reload(*password) : context.vault.unlock(*password);
    // The person showed they know the master password: the PIN is accepted again.
    if (unlocked && !reload) context.approvals.forgive_wrong_secrets();
    if (!unlocked) {
      context.log.write("unlock refused" + who + ": " + unlocked.error());
      return failure_answer(unlocked.error());
    }
    return status_answer(context.vault.status(), open_terminals(context));
  }
  return failure_answer("unknown op " + **op);
}

// The broker's opening of a client's terminal connection, {"op":"terminal","pid":P}: the
// client's pid.
std::optional<pid_t> terminal_client_pid(const PaddedPayload& frame) {
  ParsedObject parsed;
  if (!parse_admin_request(frame, parsed)) return std::nullopt;
  auto reader = ObjectReader::over(parsed.object);
  if (!reader) return std::nullopt;
  auto op = reader->string("op");
  if (!op || !*op || **op != "terminal") return std::nullopt;
  auto pid = reader->unsigned_integer("pid");
  if (!pid || !*pid || **pid > 0x7fffffff) return pid_t{0};
  return static_cast<pid_t>(**pid);
}

}  // namespace

void serve_admin_connection(UniqueFd socket, ServiceContext& context) {
  ucred peer{};
  socklen_t length = sizeof peer;
  if (::getsockopt(socket.get(), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) return;
  if (peer.uid != ::getuid()) {
    context.log.write("refused an admin connection from uid " + std::to_string(peer.uid) +
                      " (pid " + std::to_string(peer.pid) + ")");
    return;
  }
  auto frame = read_frame(
      socket.get(), max_admin_request_bytes,
      FrameWait{std::chrono::steady_clock::now() + admin_frame_wait, context.abandon.fd()});
  if (!frame) {
    context.log.write("admin connection from pid " + std::to_string(peer.pid) +
                      " dropped: " + frame.error().text());
    return;
  }
  if (auto terminal_client = terminal_client_pid(*frame)) {
    sodium_memzero(frame->bytes.get(), frame->size);
    if (context.serve_terminal != nullptr)
      context.serve_terminal(std::move(socket), context, *terminal_client, std::nullopt);
    return;
  }
  auto reply = answer(*frame, context, peer.pid);
  // The request may hold the password: it does not outlive its answer.
  sodium_memzero(frame->bytes.get(), frame->size);
  if (!reply) {
    serve_console(std::move(socket), context, peer.pid);
    return;
  }
  (void)write_frame(socket.get(), *reply);
}

}  // namespace pendrel::desktop
