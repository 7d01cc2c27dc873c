#include "desktop/broker/terminal_access/terminal_requests.h"

#include <sodium.h>

#include <chrono>

#include "desktop/broker/terminal_access/client_questions.h"
#include "desktop/broker/terminal_access/ssh_terminal.h"
#include "desktop/shared/service/terminal_audit.h"
#include "desktop/shared/store/host_lookup.h"
#include "desktop/shared/store/json_object_reader.h"
#include "desktop/shared/terminal/opening_answers.h"
#include "desktop/shared/terminal/terminal_registry.h"
#include "protocol/channel.h"
#include "protocol/error_code.h"
#include "protocol/json_writer.h"

namespace pendrel::desktop {
namespace {

using Clock = std::chrono::steady_clock;

std::string failure(ErrorCode code, std::string_view error) {
  return refused_answer(info_for(code).name, error);
}

std::string failure(std::string_view code, std::string_view error) {
  return refused_answer(code, error);
}

WindowSize size_from(const ObjectReader& reader) {
  WindowSize size;
  auto rows = reader.unsigned_integer("rows");
  auto columns = reader.unsigned_integer("columns");
  if (rows && *rows && **rows > 0 && **rows < 10000) size.rows = static_cast<std::uint16_t>(**rows);
  if (columns && *columns && **columns > 0 && **columns < 10000)
    size.columns = static_cast<std::uint16_t>(**columns);
  return size;
}

std::string text_of(const ObjectReader& reader, std::string_view key) {
  auto value = reader.string(key);
  return value && *value ? **value : std::string();
}

class CoreTerminalRequest {
 public:
  CoreTerminalRequest(UniqueFd socket, ServiceContext& context, pid_t pid)
      : socket_(std::move(socket)),
        context_(context),
        questions_(socket_.get(), context),
        pid_(pid) {}

  void serve(PaddedPayload& frame) {
    ParsedObject parsed;
    if (auto valid = parse_object(frame.view(), parsed); !valid)
      return send(failure(ErrorCode::bad_request, valid.error()));
    auto reader = ObjectReader::over(parsed.object);
    if (!reader) return send(failure(ErrorCode::bad_request, reader.error()));
    std::string action = text_of(*reader, "action");
    if (context_.terminals == nullptr)
      return send(failure(ErrorCode::internal, "this service keeps no terminals"));
    if (action == "list") return list();
    if (action == "redeem") return redeem(text_of(*reader, "token"));
    if (action == "report") return report(*reader);
    if (action == "open")
      return open(text_of(*reader, "host"), size_from(*reader), text_of(*reader, "term"));
    if (action == "attach") return attach(text_of(*reader, "id"), size_from(*reader));
    send(failure(ErrorCode::bad_request, "unknown action \"" + action + "\""));
  }

 private:
  void send(const std::string& answer) { (void)write_frame(socket_.get(), answer); }

  void list() {
    std::string listing = terminal_list_json(context_.terminals->list());
    send(set_object_member(listing, "ok", "true"));
  }

  void redeem(const std::string& token) {
    auto grant = context_.terminal_tokens.redeem(token, Clock::now());
    if (!grant) return send(failure(ErrorCode::bad_request, "no such token, or used already"));
    JsonWriter writer;
    writer.begin_object().key("ok").boolean(true);
    if (grant->act == TerminalGrant::Act::open)
      writer.key("act")
          .string("open")
          .key("hostId")
          .string(grant->host_id)
          .key("hostName")
          .string(grant->host_name);
    else
      writer.key("act").string("attach").key("id").string(grant->terminal_id);
    writer.end_object();
    send(writer.take());
  }

  // The front's LOCAL terminals are audited here, where the audit is out of the person's reach.
  void report(const ObjectReader& reader) {
    auto event = terminal_event_from_report(reader);
    if (!event) return send(failure(ErrorCode::bad_request, event.error()));
    record_terminal_event(context_, *event);
    send("{\"ok\":true}");
  }

  void open(const std::string& wanted, WindowSize size, const std::string& term) {
    auto hosts = context_.store.hosts();
    auto found = find_saved_host(hosts, wanted);
    if (!found) return send(failure(found.error().code, found.error().message));
    const HostRecord& host = hosts[*found];
    if (!questions_.check_secret()) return;
    if (host.protocol == HostProtocol::local) {
      TerminalGrant grant{TerminalGrant::Act::open, host.id, host.name, ""};
      return send_token(std::move(grant));
    }
    if (auto refusal = context_.vault.admit(host);
        refusal && refusal->code != ErrorCode::credential_missing)
      return send(failure(refusal->code, refusal->detail));
    auto shell = open_ssh_terminal(context_, host, size, term, questions_);
    if (!shell) {
      std::string why = shell.error().message;
      if (!questions_.trust_failure().empty()) why = questions_.trust_failure() + "; " + why;
      return send(failure(shell.error().code, why));
    }
    auto terminal = context_.terminals->open(host.id, host.name, std::move(*shell), size);
    if (!terminal) return send(failure(ErrorCode::app_not_running, "the service is stopping"));
    attach_here(terminal, size);
  }

  void attach(const std::string& id, WindowSize size) {
    // A LOCAL terminal is the front's: it gets a token for it, and says whether it exists.
    if (!context_.terminals->owns(id)) {
      if (!questions_.check_secret()) return;
      return send_token(TerminalGrant{TerminalGrant::Act::attach, "", "", id});
    }
    auto terminal = context_.terminals->find(id);
    if (!terminal) return send(failure(ErrorCode::terminal_not_open, "no open terminal " + id));
    if (!questions_.check_secret()) return;
    attach_here(terminal, size);
  }

  void send_token(TerminalGrant grant) {
    std::string token = context_.terminal_tokens.issue(std::move(grant), Clock::now());
    JsonWriter writer;
    writer.begin_object().key("ok").boolean(true).key("token").string(token).end_object();
    send(writer.take());
  }

  void attach_here(const std::shared_ptr<Terminal>& terminal, WindowSize size) {
    if (!write_frame(socket_.get(), attached_answer(terminal->info()))) return;
    terminal->attach(std::move(socket_), size, pid_);
  }

  UniqueFd socket_;
  ServiceContext& context_;
  ClientQuestions questions_;
  pid_t pid_;
};

}  // namespace

void serve_core_terminal(UniqueFd socket, ServiceContext& context, pid_t client_pid,
                         std::optional<PaddedPayload> first) {
  std::optional<PaddedPayload> frame = std::move(first);
  if (!frame) {
    auto read = read_client_frame(socket.get(), context);
    if (!read) return;
    frame = std::move(*read);
  }
  CoreTerminalRequest(std::move(socket), context, client_pid).serve(*frame);
  sodium_memzero(frame->bytes.get(), frame->size);
}

}  // namespace pendrel::desktop
