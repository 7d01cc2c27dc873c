#include "desktop/front/session/front_terminals.h"

#include <chrono>

#include "desktop/front/runner/local_shell.h"
#include "desktop/shared/link/broker_connection.h"
#include "desktop/shared/link/descriptor_frames.h"
#include "desktop/shared/service/terminal_audit.h"
#include "desktop/shared/store/json_object_reader.h"
#include "desktop/shared/terminal/opening_answers.h"
#include "protocol/channel.h"
#include "protocol/json_writer.h"

namespace pendrel::desktop {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto broker_answer_wait = std::chrono::seconds(30);

std::string text_of(const ObjectReader& reader, std::string_view key) {
  auto value = reader.string(key);
  return value && *value ? **value : std::string();
}

// One request to the person's service about terminals, and its answer.
std::expected<std::string, std::string> ask_service(ServiceContext& context,
                                                    std::string_view request) {
  if (!context.broker) return std::unexpected("no broker");
  auto socket = connect_to_broker(*context.broker);
  if (!socket) return std::unexpected(socket.error().text);
  if (!write_frame_with_descriptors(socket->get(), "{\"kind\":\"terminal\"}", {}) ||
      !write_frame(socket->get(), request))
    return std::unexpected("the broker hung up");
  auto answer = read_frame(socket->get(), 1 << 20,
                           FrameWait{Clock::now() + broker_answer_wait, context.abandon.fd()});
  if (!answer) return std::unexpected("the broker did not answer: " + answer.error().text());
  return std::string(answer->view());
}

class FrontTerminalRequest {
 public:
  FrontTerminalRequest(UniqueFd socket, ServiceContext& context, pid_t pid)
      : socket_(std::move(socket)), context_(context), pid_(pid) {}

  void serve(const PaddedPayload& frame) {
    ParsedObject parsed;
    if (!parse_object(frame.view(), parsed)) return send(refused_answer("bad_request", "not JSON"));
    auto reader = ObjectReader::over(parsed.object);
    if (!reader) return send(refused_answer("bad_request", reader.error()));
    std::string what = text_of(*reader, "terminal");
    if (what == "list") {
      std::string listing = terminal_list_json(context_.terminals->list());
      return send(set_object_member(listing, "ok", "true"));
    }
    if (what != "redeem") return send(refused_answer("bad_request", "unknown terminal request"));
    WindowSize size;
    if (auto rows = reader->unsigned_integer("rows"); rows && *rows && **rows > 0 && **rows < 10000)
      size.rows = static_cast<std::uint16_t>(**rows);
    if (auto columns = reader->unsigned_integer("columns");
        columns && *columns && **columns > 0 && **columns < 10000)
      size.columns = static_cast<std::uint16_t>(**columns);
    redeem(text_of(*reader, "token"), size, text_of(*reader, "term"), text_of(*reader, "lang"));
  }

 private:
  void send(const std::string& answer) { (void)write_frame(socket_.get(), answer); }

  void redeem(const std::string& token, WindowSize size, const std::string& term,
              const std::string& language) {
    JsonWriter request;
    request.begin_object().key("action").string("redeem").key("token").string(token).end_object();
    auto answer = ask_service(context_, request.take());
    if (!answer) return send(refused_answer("app_not_running", answer.error()));
    ParsedObject parsed;
    if (!parse_object(*answer, parsed))
      return send(refused_answer("internal", "the service's answer"));
    auto reader = ObjectReader::over(parsed.object);
    if (!reader) return send(refused_answer("internal", reader.error()));
    auto ok = reader->boolean("ok");
    if (!ok || !*ok || !**ok)
      return send(refused_answer(text_of(*reader, "code"), text_of(*reader, "error")));
    std::shared_ptr<Terminal> terminal;
    if (text_of(*reader, "act") == "open") {
      auto shell = open_local_shell(size, term, language);
      if (!shell) return send(refused_answer(shell.error().code, shell.error().message));
      terminal = context_.terminals->open(text_of(*reader, "hostId"), text_of(*reader, "hostName"),
                                          std::move(*shell), size);
      if (!terminal) return send(refused_answer("app_not_running", "the service is stopping"));
    } else {
      std::string id = text_of(*reader, "id");
      terminal = context_.terminals->find(id);
      if (!terminal) return send(refused_answer("terminal_not_open", "no open terminal " + id));
    }
    if (!write_frame(socket_.get(), attached_answer(terminal->info()))) return;
    terminal->attach(std::move(socket_), size, pid_);
  }

  UniqueFd socket_;
  ServiceContext& context_;
  pid_t pid_;
};

}  // namespace

bool asks_for_terminal(std::string_view frame) {
  ParsedObject parsed;
  if (!parse_object(frame, parsed)) return false;
  auto reader = ObjectReader::over(parsed.object);
  return reader && reader->string("terminal").has_value() &&
         reader->string("terminal")->has_value();
}

void serve_front_terminal(UniqueFd socket, ServiceContext& context, pid_t client_pid,
                          std::optional<PaddedPayload> first) {
  if (!first || context.terminals == nullptr) return;
  FrontTerminalRequest(std::move(socket), context, client_pid).serve(*first);
}

void report_terminal_event(ServiceContext& context, const TerminalEvent& event) {
  if (auto reported = ask_service(context, terminal_report(event)); !reported)
    context.log.write("a terminal's " + terminal_audit_entry(event).kind +
                      " did not reach the audit: " + reported.error());
}

}  // namespace pendrel::desktop
