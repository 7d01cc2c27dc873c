// Routing by request kind: LOCAL hosts are served by the local runner, SSH hosts through
// ssh_requests with what the vault holds for them.
#include "desktop/shared/service/request_router.h"

#include <poll.h>

#include "desktop/front/runner/local_exec.h"
#include "desktop/front/runner/local_transfer.h"
#include "desktop/shared/link/front_work.h"
#include "desktop/shared/service/approval_gate.h"
#include "desktop/shared/service/current_rules.h"
#include "desktop/shared/service/ssh_front_transfer.h"
#include "desktop/shared/service/ssh_host_copy.h"
#include "desktop/shared/service/ssh_requests.h"
#include "desktop/shared/store/host_lookup.h"
#include "desktop/shared/terminal/terminal_exec.h"
#include "protocol/lexical_path.h"

namespace pendrel::desktop {
namespace {

// Paths of a LOCAL host are taken from the home directory when relative, as scp does.
std::string local_host_path(const std::string& path, const std::string& home_dir) {
  return absolute_lexically(path, home_dir);
}

std::string_view terminal_refused_for_cli_login(AnswerLanguage language) {
  if (language == AnswerLanguage::en) {
    return "this host has a login of its own for the command line, and its terminals run as the "
           "user: --terminal is refused; use a plain exec, or ask the user";
  }
  return "该主机设置了仅供命令行使用的凭据，而终端以用户本人身份运行，因此拒绝 "
         "--terminal；请改用普通 exec，或询问用户";
}

struct Router {
  const RequestOrigin& origin;
  ServiceContext& context;
  Handled handled;

  void fail(ErrorBody error) {
    handled.audit.outcome = error.code;
    handled.answer = std::move(error);
  }

  // The host named by the request, already recorded in the audit entry; nothing after the
  // answer has been set to the error.
  std::optional<HostRecord> host_for(const std::string& id_or_name) {
    auto host = find_host(id_or_name);
    if (!host || !served_here(*host)) return std::nullopt;
    return host;
  }

  // The host as host_for finds it, whatever its protocol.
  std::optional<HostRecord> find_host(const std::string& id_or_name) {
    auto host = resolve_host(context.store.hosts(), id_or_name);
    if (!host) {
      handled.audit.host_name = id_or_name;
      fail(std::move(host.error()));
      return std::nullopt;
    }
    handled.audit.host_id = host->id;
    handled.audit.host_name = host->name;
    return std::move(*host);
  }

  bool served_here(const HostRecord& host) {
    if (auto refused = context.vault.admit(host)) {
      fail(error_answer(refused->code, refused->detail));
      return false;
    }
    return true;
  }

  // Says in the service's log why a request of `host` ended before its answer.
  void log_canceled(std::string_view work, const HostRecord& host) {
    pollfd caller{origin.socket, POLLIN | POLLRDHUP, 0};
    const char* why = context.abandon.fired()     ? "the service is stopping"
                      : ::poll(&caller, 1, 0) > 0 ? "the caller closed its connection"
                                                  : "it reached the host's time limit";
    context.log.write(std::string(work) + " on " + host.id + " for pid " +
                      std::to_string(origin.pid) + " ended: " + why);
  }

  // Nothing runs on a match, on any kind of host and for a terminal too: this comes before
  // the host's protocol decides where the command would go.
  bool allowed_by_rules(const ExecRequest& request) {
    auto blocked = context.exec_policy.check(request.command, current_rules(context), context.log,
                                             origin.language);
    if (!blocked) return true;
    handled.audit.rule = blocked->rule;
    auto verdict = put_to_person(*blocked,
                                 {request.command, request.caller,
                                  handled.audit.host_name + " (" + handled.audit.host_id + ")",
                                  origin.pid, origin.socket, origin.language},
                                 context);
    handled.audit.approval = std::move(verdict.approval);
    if (!verdict.refusal) return true;
    fail(std::move(*verdict.refusal));
    return false;
  }

  void operator()(const ListHostsRequest& request) {
    handled.audit.command = request.query;
    HostsAnswer answer{list_hosts(context.store.hosts(), request.query)};
    handled.audit.outcome = "ok";
    handled.answer = std::move(answer);
  }

  void operator()(const ExecRequest& request) {
    handled.audit.caller = request.caller;
    handled.audit.command = request.command;
    auto host = find_host(request.host);
    if (!host || !allowed_by_rules(request) || !served_here(*host)) return;
    if (request.terminal == TerminalMode::on) {
      // A terminal is logged in as the person: typing an agent's command there would step
      // around the less privileged login the person set for agents.
      if (has_cli_login(context.vault, host->id)) {
        fail(error_answer(ErrorCode::bad_request, terminal_refused_for_cli_login(origin.language)));
        return;
      }
      return exec_in_terminal_of(*host, request.command);
    }
    if (host->protocol == HostProtocol::local && context.in_broker) return hand_to_front(*host);
    CancelWatch cancel{{origin.socket, context.abandon.fd()}};
    auto result =
        host->protocol == HostProtocol::local
            ? run_local_command(request.command, context.home_dir, cancel)
            : exec_on_ssh_host(context.vault, context.warm_ssh, host->id, request.command, cancel);
    if (!result) {
      if (result.error().code == "canceled") log_canceled("exec", *host);
      fail(std::move(result.error()));
      return;
    }
    handled.audit.outcome = "ok";
    handled.audit.exit_code = result->exit_code;
    handled.audit.bytes = result->stdout_text.size() + result->stderr_text.size();
    handled.answer = std::move(*result);
  }

  void operator()(const UploadRequest& request) { transfer(Direction::upload, request); }
  void operator()(const DownloadRequest& request) { transfer(Direction::download, request); }

  void transfer(Direction direction, const TransferRequest& request) {
    handled.audit.caller = request.caller;
    handled.audit.local = request.local;
    handled.audit.remote = request.remote;
    auto host = host_for(request.host);
    if (!host) return;
    if (host->protocol == HostProtocol::local && context.in_broker) return hand_to_front(*host);
    std::string local = local_host_path(request.local, context.home_dir);
    std::expected<TransferResponse, ErrorBody> result;
    if (host->protocol == HostProtocol::local) {
      std::string remote = local_host_path(request.remote, context.home_dir);
      result = direction == Direction::upload ? copy_local_file(direction, local, remote)
                                              : copy_local_file(direction, remote, local);
    } else if (context.in_broker) {
      CancelWatch cancel{{origin.socket, context.abandon.fd()}};
      result = transfer_for_front(context.vault, context.warm_ssh, host->id, direction,
                                  request.remote, origin.socket, context.abandon.fd(), cancel);
    } else {
      CancelWatch cancel{{origin.socket, context.abandon.fd()}};
      result = transfer_with_ssh_host(context.vault, context.warm_ssh, host->id, direction, local,
                                      request.remote, cancel);
    }
    if (!result) {
      if (result.error().code == "canceled")
        log_canceled(direction == Direction::upload ? "upload" : "download", *host);
      fail(std::move(result.error()));
      return;
    }
    handled.audit.outcome = "ok";
    handled.audit.local = result->local;
    handled.audit.remote = result->remote;
    handled.audit.bytes = result->bytes;
    handled.answer = std::move(*result);
  }

  // `exec --terminal`: typed into the person's terminal of the host, which for a LOCAL host
  // the person's front keeps, and for an SSH host this service.
  void exec_in_terminal_of(const HostRecord& host, const std::string& command) {
    if (host.protocol == HostProtocol::local && context.in_broker) return hand_to_front(host);
    if (context.terminals == nullptr) {
      fail(error_answer(ErrorCode::terminal_not_open, "this pendrel-desktop keeps no terminals"));
      return;
    }
    auto outcome = exec_in_terminal(*context.terminals, host.id, host.name, command,
                                    {origin.socket, context.abandon.fd()});
    handled.audit.terminal = outcome.terminal_id;
    if (!outcome.result) {
      if (outcome.result.error().code == "canceled") log_canceled("exec in a terminal", host);
      fail(std::move(outcome.result.error()));
      return;
    }
    handled.audit.outcome = "ok";
    handled.audit.exit_code = outcome.result->exit_code;
    handled.audit.bytes = outcome.result->stdout_text.size();
    handled.answer = std::move(*outcome.result);
  }

  // The request passed every check; the person's front runs it and says how it went.
  void hand_to_front(const HostRecord& host) {
    auto outcome =
        ask_front_to_run(origin.socket, FrontHost{host.id, host.name}, context.abandon.fd());
    handled.answered_by_front = true;
    if (!outcome) {
      handled.audit.outcome = "canceled";
      context.log.write("the front of pid " + std::to_string(origin.pid) +
                        " did not report its LOCAL work: " + outcome.error());
      return;
    }
    handled.audit.outcome = outcome->outcome;
    handled.audit.exit_code = outcome->exit_code;
    handled.audit.bytes = outcome->bytes;
    if (!outcome->local.empty()) handled.audit.local = outcome->local;
    if (!outcome->remote.empty()) handled.audit.remote = outcome->remote;
    if (!outcome->terminal.empty()) handled.audit.terminal = outcome->terminal;
  }

  // Nothing to bring to the front: the service has no window.
  void operator()(const ActivateRequest&) {
    handled.audit.outcome = "ok";
    handled.answer = OkAnswer{};
  }

  void operator()(const QuitRequest&) {
    context.log.write("stopping: quit requested by pid " + std::to_string(origin.pid));
    handled.audit.outcome = "ok";
    handled.answer = OkAnswer{};
    handled.stop_service = true;
  }
};

constexpr std::string_view kind_name(const Request& request) {
  constexpr std::string_view names[] = {"listHosts", "exec",     "upload",
                                        "download",  "activate", "quit"};
  return names[request.index()];
}

}  // namespace

ErrorBody error_answer(ErrorCode code, std::string_view detail) {
  return ErrorBody{std::string(info_for(code).name), std::string(detail)};
}

Handled handle_request(const Request& request, const RequestOrigin& origin,
                       ServiceContext& context) {
  Router router{origin, context, {}};
  router.handled.audit.client_pid = origin.pid;
  router.handled.audit.kind = kind_name(request);
  // Locked as a whole, the service answers nothing, `quit` included: the person stops it with
  // `pendrel-desktop stop` (a signal), an agent should not be able to restart it unlocked.
  if (context.vault.app_locked()) {
    router.fail(error_answer(ErrorCode::app_locked, "run pendrel-desktop unlock"));
    return std::move(router.handled);
  }
  std::visit(router, request);
  return std::move(router.handled);
}

}  // namespace pendrel::desktop
