// The service's life: prepare the data directory, take the instance lock, open the socket
// (or leave the marker), accept until told to stop, then stop cleanly.
#include "desktop/shared/service/service.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>

#include "desktop/broker/vault/foreign_code_check.h"
#include "desktop/broker/vault/process_guard.h"
#include "desktop/broker/vault/stale_temporaries.h"
#include "desktop/front/session/front_terminals.h"
#include "desktop/front/session/personal_broker.h"
#include "desktop/shared/link/broker_address.h"
#include "desktop/shared/service/accept_loop.h"
#include "desktop/shared/service/app_version.h"
#include "desktop/shared/service/instance_lock.h"
#include "desktop/shared/service/listener.h"
#include "desktop/shared/service/marker_file.h"
#include "desktop/shared/service/service_paths.h"
#include "desktop/shared/service/signal_handlers.h"
#include "desktop/shared/service/terminal_audit.h"
#include "desktop/shared/service/vault_keeper.h"
#include "desktop/shared/service/worker_pool.h"
#include "protocol/data_dir.h"
#include "protocol/decimal.h"
#include "protocol/environment.h"
#include "protocol/fd_io.h"
#include "protocol/os_error.h"
#include "protocol/unique_fd.h"

namespace pendrel::desktop {
namespace {

using namespace std::chrono_literals;

// How long running requests may take to finish once the service is told to stop.
constexpr auto stop_wait = 5s;

void say(std::string_view text) {
  (void)write_all(STDERR_FILENO, "pendrel-desktop: " + std::string(text) + "\n");
}

std::string home_directory(const Environment& environment) {
  if (auto home = environment.get_non_empty("HOME")) return std::string(*home);
  if (auto home = password_database_home()) return *home;
  return "/";
}

// Waits for the stop signal, however long that takes.
void wait_for_stop(const StopSignal& stop) {
  pollfd entry{stop.fd(), POLLIN, 0};
  while (::poll(&entry, 1, -1) < 0 && errno == EINTR) {
  }
}

// Without a socket the service has nothing to do but keep the marker alive for pendrel.
int serve_unavailable(const ServicePaths& paths, const std::string& reason, const ServiceLog& log,
                      const StopSignal& stop) {
  log.write("the command-line service cannot start: " + reason);
  if (auto written = write_unavailable_marker(paths.marker, reason); !written) {
    // Without the marker pendrel would only start another copy; staying would help nobody.
    log.write("cannot write " + paths.marker + ": " + os_error_text(written.error()) + "; exiting");
    say("the command-line service cannot start: " + reason);
    return 1;
  }
  wait_for_stop(stop);
  remove_unavailable_marker(paths.marker);
  log.write("stopped");
  release_signal_handlers();
  return 0;
}

// The test knob for the idle lock: seconds instead of the vault's minutes.
std::optional<std::uint64_t> idle_lock_override(const Environment& environment) {
  auto text = environment.get_non_empty("PENDREL_DESKTOP_TEST_IDLE_LOCK_SECONDS");
  if (!text) return std::nullopt;
  return parse_decimal_u32(*text);
}

// The test knob for the approval console: seconds a rule match waits instead of the settings'.
std::optional<std::chrono::seconds> approval_wait_override(const Environment& environment) {
  auto text = environment.get_non_empty("PENDREL_DESKTOP_TEST_APPROVAL_SECONDS");
  auto value = text ? parse_decimal_u32(*text) : std::nullopt;
  if (!value || *value == 0) return std::nullopt;
  return std::chrono::seconds(*value);
}

// The test knob for the per-frame deadline: milliseconds instead of 30 s.
std::optional<std::chrono::milliseconds> frame_wait_override(const Environment& environment) {
  auto text = environment.get_non_empty("PENDREL_DESKTOP_TEST_FRAME_WAIT_MS");
  auto value = text ? parse_decimal_u32(*text) : std::nullopt;
  if (!value || *value == 0) return std::nullopt;
  return std::chrono::milliseconds(*value);
}

// A person's service inside the broker ends with it, however the broker ends: a broker
// started after it would otherwise find the state held by a service nobody stops.
std::jthread watch_broker(const StopSignal& stop) {
  pid_t broker = ::getppid();
  UniqueFd watched(static_cast<int>(::syscall(SYS_pidfd_open, broker, 0)));
  return std::jthread([&stop, broker, watched = std::move(watched)](std::stop_token token) {
    while (!token.stop_requested()) {
      pollfd entry{watched.get(), POLLIN, 0};
      if (broker == 1 || ::poll(&entry, 1, 200) > 0) {
        stop.fire();
        return;
      }
    }
  });
}

}  // namespace

int run_service(ServiceMode mode, TerminalServer serve_terminal) {
  // Before anything could hold a secret: no core file, no ptrace, no /proc/PID/mem.
  auto hardened = harden_process();
  Environment environment = Environment::from_process();
  auto found = find_data_dir(environment);
  if (!found) {
    say("cannot find the data directory: " + found.error().text());
    return 1;
  }
  // Inside a broker of personal mode the data directory's own sockets and lock are the front's.
  auto personal_front = environment.get_non_empty("PENDREL_BROKER_PERSONAL");
  const bool personal_core = mode == ServiceMode::in_broker && personal_front.has_value();
  // It logs where its front does: a front run in the foreground shares its standard error.
  const bool log_to_stderr =
      mode == ServiceMode::foreground || (personal_core && *personal_front == "foreground");
  ServicePaths paths = service_paths(working_form(*found), personal_core);
  auto run = prepare_run_directory(paths);
  auto logs = prepare_logs_directory(paths);
  // Without logs/ the lines go to standard error, and the problem is the marker's reason.
  ServiceLog log =
      log_to_stderr || !logs ? ServiceLog::to_stderr() : ServiceLog::to_file(paths.logs_dir);
  if (!run) {
    say(run.error());
    // The log may still be writable: a refused run/ leaves logs/ alone.
    if (mode == ServiceMode::headless && logs) log.write(run.error());
    return 1;
  }

  auto lock = acquire_instance_lock(paths.lock);
  if (!lock) {
    if (lock.error().kind == LockFailure::Kind::held) {
      say("already running for " + paths.data_dir);
      return 0;
    }
    std::string reason =
        "cannot lock " + paths.lock + ": " + os_error_text(lock.error().error_number);
    say(reason);
    log.write(reason);
    return 1;
  }

  StopSignal stop;
  StopSignal abandon;
  install_signal_handlers(stop, mode);
  std::jthread broker_watch;
  if (mode == ServiceMode::in_broker) broker_watch = watch_broker(stop);
  log.write("starting version " + std::string(app_version) + " for " + paths.data_dir);

  if (!logs) return serve_unavailable(paths, logs.error(), log, stop);
  // The person's commands; without it the service still serves what needs no secret. Opened
  // first, so that it is there once run/cli.sock answers.
  std::string admin_path = paths.run_dir + "/admin.sock";
  // The person's front holds no vault: its commands go to the broker, and an admin socket
  // here would only be something to stand in for. Without an installed broker (or one named
  // in the environment) the front starts one of its own: personal mode.
  std::optional<BrokerAddress> broker;
  std::optional<PersonalBroker> personal;
  if (mode != ServiceMode::in_broker) {
    broker = configured_broker(environment);
    if (!broker)
      broker = personal.emplace(paths.data_dir, mode == ServiceMode::foreground).address();
  }
  // Before pendrel can connect: the broker answers once the person's service inside it has
  // opened its admin socket. A broker that cannot start is tried again by each request.
  if (personal) {
    if (auto started = personal->ensure_running(); !started) log.write(started.error());
  }
  auto admin = broker ? std::expected<Listener, ListenFailure>(std::unexpected(ListenFailure{
                            ListenFailure::Kind::unavailable, "not needed in front of a broker"}))
                      : open_listener(admin_path);
  auto listener = open_listener(paths.socket);
  if (!listener) {
    if (admin) remove_socket_file(*admin);  // nothing to unlock without requests to serve
    if (listener.error().kind == ListenFailure::Kind::another_service) {
      say("already running for " + paths.data_dir + " (it answers on " + paths.socket + ")");
      return 0;
    }
    return serve_unavailable(paths, listener.error().reason, log, stop);
  }
  // A marker of an earlier run that ended without cleaning up would mislead pendrel.
  ::unlink(paths.marker.c_str());
  if (listener->replaced_stale) log.write("replaced a stale socket at " + paths.socket);
  log.write("listening on " + paths.socket);
  if (admin)
    log.write("admin commands on " + admin_path);
  else if (!broker)
    log.write("cannot open " + admin_path + ": " + admin.error().reason);

  DataStore store(paths.data_dir, [&log](std::string_view line) { log.write(line); });
  AuditLog audit(paths.logs_dir);
  std::optional<std::string> unlock_refused = unlock_refusal_reason(environment);
  // What the broker found in itself holds for the services it starts.
  if (auto broker_refusal = environment.get_non_empty("PENDREL_BROKER_REFUSAL");
      !unlock_refused && broker_refusal)
    unlock_refused = std::string(*broker_refusal);
  if (!unlock_refused) unlock_refused = foreign_code_reason();
  if (!hardened) unlock_refused = "the process could not protect its memory: " + hardened.error();
  if (unlock_refused) log.write("the vault will not be unlocked: " + *unlock_refused);
  // The vault is the broker's, which cleans up after its own saves.
  if (!broker) {
    for (const auto& name : remove_stale_vault_temporaries(paths.data_dir))
      log.write("removed " + name + ", left by a save that did not finish");
  }
  // Declared before the vault, whose idle lock (a thread of its own) may end them until the
  // vault is gone.
  WarmConnections warm_ssh;
  VaultKeeper vault(paths.data_dir, log, unlock_refused, idle_lock_override(environment));
  // A connection logged in with what the vault held must not outlive a lock or a change.
  vault.on_open_or_close([&warm_ssh] { warm_ssh.end_all(); });
  ServiceContext context{
      working_form(home_directory(environment)), store, audit, log, stop, abandon, vault, warm_ssh};
  context.approvals.set_wait_override(approval_wait_override(environment));
  if (auto wait = frame_wait_override(environment)) context.frame_wait = *wait;
  // Behind a front, which reads pendrel's frames with the same deadline and says why one did
  // not come: a little longer here, so that the front's line is the only one.
  if (mode == ServiceMode::in_broker) context.frame_wait += std::chrono::seconds(2);
  context.in_broker = mode == ServiceMode::in_broker;
  context.broker = broker;
  if (personal) context.personal_broker = &*personal;
  context.data_dir = paths.data_dir;
  context.serve_terminal = serve_terminal;
  // SSH terminals live in the person's service, LOCAL ones in the front; their ids tell them
  // apart. The audit is the person's service's: the front reports its terminals' events.
  TerminalRegistry terminals(context.in_broker ? "s" : "l", [&context](const TerminalEvent& event) {
    if (context.in_broker)
      record_terminal_event(context, event);
    else
      report_terminal_event(context, event);
  });
  context.terminals = &terminals;
  if (context.broker) log.write("requests go to the broker at " + context.broker->socket);
  // Started by pendrel, the service outlives the directory pendrel ran in; it must not keep
  // that directory busy. Every path it uses is absolute by now.
  if (mode != ServiceMode::foreground && ::chdir("/") != 0) log.write("cannot change to /");
  {
    WorkerPool pool(max_concurrent_connections);
    accept_until_stopped(*listener, admin ? &*admin : nullptr, pool, context,
                         waiting_connection_limit());
    // No new connections from here on; pendrel then sees the service as not running.
    remove_socket_file(*listener);
    listener->socket.reset();
    if (admin) {
      remove_socket_file(*admin);
      admin->socket.reset();
    }
    log.write("stopping");
    // Their clients are told, and get their terminals back.
    terminals.end_all("the service stopped");
    if (!pool.wait_idle(stop_wait)) {
      log.write("requests still running after " + std::to_string(stop_wait.count()) +
                " s; ending them");
      abandon.fire();
    }
  }  // the pool joins every worker here
  if (personal) personal->stop();
  remove_unavailable_marker(paths.marker);
  log.write("stopped");
  release_signal_handlers();
  return 0;
}

}  // namespace pendrel::desktop
