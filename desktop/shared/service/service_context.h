// What every connection of the running service shares: the stores, the logs, the stop switches.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "desktop/broker/ssh/warm_connections.h"
#include "desktop/shared/audit/audit_log.h"
#include "desktop/shared/audit/service_log.h"
#include "desktop/shared/link/broker_address.h"
#include "desktop/shared/service/approval_desk.h"
#include "desktop/shared/service/exec_policy.h"
#include "desktop/shared/service/stop_signal.h"
#include "desktop/shared/service/vault_keeper.h"
#include "desktop/shared/store/data_store.h"
#include "desktop/shared/terminal/terminal_registry.h"
#include "desktop/shared/terminal/terminal_tokens.h"
#include "protocol/frame_reader.h"

namespace pendrel::desktop {

class PersonalBroker;
struct ServiceContext;

// Serves a terminal connection: in the person's service, after the broker's opening on
// run/admin.sock (`first` empty); in the front, on run/cli.sock, whose `first` frame asked for
// a terminal.
using TerminalServer = void (*)(UniqueFd socket, ServiceContext& context, pid_t client_pid,
                                std::optional<PaddedPayload> first);

struct ServiceContext {
  std::string home_dir;  // where LOCAL commands run and relative paths start
  DataStore& store;
  AuditLog& audit;
  const ServiceLog& log;
  const StopSignal& stop;     // fired by signals and `quit`: accept no more connections
  const StopSignal& abandon;  // fired when the bounded wait on stop is over: end the rest
  VaultKeeper& vault;         // the secrets, and whether requests may use them
  WarmConnections& warm_ssh;  // logged-in SSH connections kept between requests
  ExecPolicy exec_policy{};   // the dangerous-command rules every exec is checked against
  ApprovalDesk approvals{};   // the attached consoles and the matches waiting for them
  // How long each frame of a client may take to arrive; a client that takes longer is not
  // pendrel and must not hold a worker. Tests shorten it.
  std::chrono::milliseconds frame_wait{30'000};
  // The person's front: every request but activate and quit goes to this broker.
  std::optional<BrokerAddress> broker;
  // Personal mode: the front's own broker, started again when it does not answer.
  PersonalBroker* personal_broker = nullptr;
  // A person's service inside the broker: each connection opens with pendrel's pid from the
  // broker, and a LOCAL host's work is handed back to the person's front, which runs it as
  // the person; the broker's account never runs a person's command.
  bool in_broker = false;
  std::string data_dir;
  // The terminals this process keeps (SSH ones in the person's service, LOCAL ones in the
  // front), and who serves a connection that asks for one.
  TerminalRegistry* terminals = nullptr;
  TerminalServer serve_terminal = nullptr;
  // The person's service: the proofs it gave clients for the front's LOCAL terminals.
  TerminalTokens terminal_tokens{};
};

// The language the client asked for in its Hello: "en" gives English, anything else Chinese.
enum class AnswerLanguage { zh, en };

}  // namespace pendrel::desktop
