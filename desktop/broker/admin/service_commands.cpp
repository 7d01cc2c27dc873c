#include "desktop/broker/admin/service_commands.h"

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "desktop/broker/admin/admin_channel.h"
#include "desktop/broker/admin/personal_mode_note.h"
#include "desktop/broker/admin/service_probe.h"
#include "desktop/broker/admin/terminal_opening.h"
#include "desktop/shared/store/hosts_file.h"
#include "desktop/shared/store/settings_file.h"
#include "protocol/decimal.h"
#include "protocol/json_writer.h"
#include "protocol/os_error.h"

namespace pendrel::desktop {
namespace {

// The service finishes running requests before it exits, within its own bound; this is
// longer, so that `stop` reports a service that really hangs.
constexpr std::chrono::seconds stop_wait{20};
constexpr std::chrono::milliseconds stop_poll{50};

std::string status_json(const ServiceState& state, std::size_t hosts, const Settings& settings,
                        const std::optional<VaultReport>& vault, std::size_t local_terminals) {
  JsonWriter writer;
  writer.begin_object().key("running").boolean(state.running);
  if (state.pid) writer.key("pid").integer(*state.pid);
  if (state.version) writer.key("version").string(*state.version);
  writer.key("socket").string(state.socket_path).key("hosts").unsigned_integer(hosts);
  writer.key("externalCli").boolean(settings.external_cli == ExternalCli::on);
  if (state.unavailable_reason) writer.key("unavailable").string(*state.unavailable_reason);
  if (vault) {
    writer.key("vault").string(vault->state).key("appLocked").boolean(vault->app_locked);
    // While the vault is open (or the tests set it): how long it may go unused; 0 is never.
    writer.key("idleLockSeconds").unsigned_integer(vault->idle_lock_seconds);
    if (vault->unlock_refused) writer.key("unlockRefused").string(*vault->unlock_refused);
  }
  // A stopped service keeps no terminal.
  if (state.running)
    writer.key("terminals").unsigned_integer(local_terminals + (vault ? vault->terminals : 0));
  writer.end_object();
  return writer.take_line();
}

std::string status_text(const ServiceState& state, std::size_t hosts, const Settings& settings,
                        const std::optional<VaultReport>& vault, std::size_t local_terminals) {
  std::string text = "pendrel-desktop ";
  if (!state.running) {
    text += "is not running\n";
  } else {
    text += "is running";
    if (state.pid) text += " (pid " + std::to_string(*state.pid) + ")";
    text += "\nversion: " + state.version.value_or("unknown") + "\n";
  }
  text += "socket: " + state.socket_path + "\n";
  if (state.unavailable_reason) {
    text += "command-line service unavailable: " + *state.unavailable_reason + "\n";
  }
  text += "hosts: " + std::to_string(hosts) + "\n";
  text += std::string("command-line access: ") +
          (settings.external_cli == ExternalCli::on ? "on" : "off") + "\n";
  if (vault) {
    text += "vault: " + vault->state + (vault->app_locked ? ", every request refused" : "") + "\n";
    if (vault->unlock_refused) text += "will not unlock: " + *vault->unlock_refused + "\n";
  }
  std::size_t ssh_terminals = vault ? vault->terminals : 0;
  if (state.running)
    text += "open terminals: " + std::to_string(ssh_terminals + local_terminals) + " (SSH " +
            std::to_string(ssh_terminals) + ", LOCAL " + std::to_string(local_terminals) +
            "; pendrel-desktop terminals lists them)\n";
  return text;
}

// What the person's side of `status` passes to the installed broker about the front.
std::expected<std::optional<ServiceState>, AdminFailure> front_state(Arguments& args) {
  auto socket = args.value_of("--front-socket");
  if (!socket) return std::unexpected(socket.error());
  if (!*socket) return std::nullopt;
  ServiceState state;
  state.socket_path = std::move(**socket);
  state.running = args.flag("--front-running");
  auto pid = args.value_of("--front-pid");
  if (!pid) return std::unexpected(pid.error());
  if (*pid) {
    if (auto number = parse_decimal_u32(**pid)) state.pid = static_cast<pid_t>(*number);
  }
  auto version = args.value_of("--front-version");
  if (!version) return std::unexpected(version.error());
  if (*version) state.version = std::move(**version);
  auto unavailable = args.value_of("--front-unavailable");
  if (!unavailable) return std::unexpected(unavailable.error());
  if (*unavailable) state.unavailable_reason = std::move(**unavailable);
  return state;
}

}  // namespace

std::expected<void, AdminFailure> show_status(const AdminContext& context, Arguments& args) {
  bool json = args.flag("--json");
  // Run by the installed broker: the person's front, as the person's side found it.
  std::optional<ServiceState> front;
  if (context.in_broker && !context.personal_mode) {
    auto told = front_state(args);
    if (!told) return std::unexpected(told.error());
    front = std::move(*told);
  }
  // The front's LOCAL terminals: told by the person's side, or asked here.
  auto told_terminals = args.value_of("--front-terminals");
  if (!told_terminals) return std::unexpected(told_terminals.error());
  if (auto end = expect_end(args); !end) return end;
  ServiceState state = front ? *front : probe_service(context.data_dir);
  std::size_t local_terminals = 0;
  if (*told_terminals)
    local_terminals = parse_decimal_u32(**told_terminals).value_or(0);
  else if (state.running)
    local_terminals = count_front_terminals(context.data_dir).value_or(0);
  // A broken file is reported but does not hide the service's state.
  auto hosts = load_hosts(context.data_dir);
  auto settings = load_settings(context.data_dir);
  if (!hosts) std::fprintf(stderr, "pendrel-desktop: %s\n", hosts.error().c_str());
  if (!settings) std::fprintf(stderr, "pendrel-desktop: %s\n", settings.error().c_str());
  std::size_t host_count = hosts ? hosts->size() : 0;
  Settings shown = settings.value_or(Settings{});
  // The vault's state comes from the running service only: a stopped service holds nothing.
  std::optional<VaultReport> vault;
  if (state.running || front) {
    if (auto asked = ask_service(context.data_dir, AdminOp::status); asked && *asked)
      vault = std::move(**asked);
  }
  print(json ? status_json(state, host_count, shown, vault, local_terminals)
             : status_text(state, host_count, shown, vault, local_terminals));
  if (!json) note_personal_mode(context);
  if (!state.running) return std::unexpected(AdminFailure{3, ""});
  return {};
}

std::expected<void, AdminFailure> stop_service(const AdminContext& context, Arguments& args) {
  if (auto end = expect_end(args); !end) return end;
  ServiceState state = probe_service(context.data_dir);
  if (!state.running) {
    std::fputs("pendrel-desktop is not running\n", stderr);
    return {};
  }
  auto deadline = std::chrono::steady_clock::now() + stop_wait;
  bool signaled = false;
  while (state.running) {
    // A service still starting holds its lock before it listens: its pid comes a moment later.
    if (!signaled && state.pid) {
      if (::kill(*state.pid, SIGTERM) != 0 && errno != ESRCH) {
        return std::unexpected(bad_input("cannot stop pid " + std::to_string(*state.pid) + ": " +
                                         os_error_text(errno)));
      }
      signaled = true;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      return std::unexpected(bad_input("pendrel-desktop is still running after " +
                                       std::to_string(stop_wait.count()) + " seconds"));
    }
    std::this_thread::sleep_for(stop_poll);
    state = probe_service(context.data_dir, ProbeDepth::presence);
  }
  return {};
}

}  // namespace pendrel::desktop
