#include "desktop/broker/admin/admin_command.h"

#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <expected>

#include "desktop/broker/admin/admin_context.h"
#include "desktop/broker/admin/admin_help.h"
#include "desktop/broker/admin/arguments.h"
#include "desktop/broker/admin/broker_command.h"
#include "desktop/broker/admin/console_commands.h"
#include "desktop/broker/admin/host_commands.h"
#include "desktop/broker/admin/hostkey_commands.h"
#include "desktop/broker/admin/log_command.h"
#include "desktop/broker/admin/rules_commands.h"
#include "desktop/broker/admin/service_commands.h"
#include "desktop/broker/admin/switch_commands.h"
#include "desktop/broker/admin/terminal_commands.h"
#include "desktop/broker/admin/vault_commands.h"
#include "protocol/data_dir.h"
#include "protocol/environment.h"
#include "protocol/fd_io.h"

namespace pendrel::desktop {
namespace {

using Outcome = std::expected<void, AdminFailure>;

Outcome show_help(const AdminContext&, Arguments& args) {
  if (auto end = expect_end(args); !end) return end;
  print(admin_help_text());
  return {};
}

struct Command {
  std::string_view name;
  Outcome (*run)(const AdminContext&, Arguments&);
};

constexpr Command commands[] = {
    {"host", run_host_command},
    {"hostkey", run_hostkey_command},
    {"cli", switch_cli},
    {"autostart", switch_autostart},
    {"autolock", set_idle_lock},
    {"status", show_status},
    {"stop", stop_service},
    {"log", show_log},
    {"rules", run_rules_command},
    {"init", init_vault},
    {"unlock", unlock_vault},
    {"lock", lock_vault},
    {"passwd", change_master_password},
    {"console", open_console},
    {"pin", run_pin_command},
    {"term", open_terminal},
    {"attach", attach_terminal},
    {"terminals", list_terminals},
    {"help", show_help},
    {"--help", show_help},
    {"-h", show_help},
};

// The one place where a person's command reports its failure.
int report(const AdminFailure& failure) {
  if (!failure.message.empty())
    std::fprintf(stderr, "pendrel-desktop: %s\n", failure.message.c_str());
  return failure.exit_code;
}

}  // namespace

void print(std::string_view text) {
  (void)write_all(STDOUT_FILENO, text);
}

int run_admin_command(std::span<const std::string> args, AdminRoute route) {
  // Before any password is read or typed through: no other process of the same account may
  // read this one's memory.
  ::prctl(PR_SET_DUMPABLE, 0);
  if (args.empty()) {
    print(admin_help_text());
    return 1;
  }
  const Command* chosen = nullptr;
  for (const auto& command : commands) {
    if (command.name == args.front()) chosen = &command;
  }
  if (chosen == nullptr) {
    return report(bad_input("unknown command " + args.front() + " (see pendrel-desktop help)"));
  }
  Environment environment = Environment::from_process();
  // With a broker, the person's state is the broker's: the command runs there.
  if (route == AdminRoute::broker_when_configured && runs_in_broker(args.front())) {
    if (auto broker = configured_broker(environment)) {
      auto code = run_in_broker(*broker, args);
      if (!code) return report(code.error());
      return *code;
    }
  }
  AdminContext context;
  context.in_broker = route == AdminRoute::here;
  context.personal_mode = route == AdminRoute::here
                              ? environment.get_non_empty("PENDREL_BROKER_PERSONAL").has_value()
                              : true;
  if (chosen->run != show_help) {
    auto data_dir = find_data_dir(environment);
    if (!data_dir)
      return report(bad_input("cannot find the data directory: " + data_dir.error().text()));
    context.data_dir = working_form(*data_dir);
  }
  // Personal mode: the broker of the person's running front does the command; with none
  // running, the command works on the data directory's files itself, which is what that
  // broker would do for it.
  if (route == AdminRoute::broker_when_configured && runs_in_broker(args.front()) &&
      chosen->run != show_help) {
    if (std::find(args.begin(), args.end(), "--import") != args.end() && args.front() == "init")
      return report(
          bad_input("init --import moves a vault into an installed broker; in "
                    "personal mode the vault already stays in " +
                    context.data_dir));
    bool unreachable = false;
    auto code = run_in_broker(personal_broker(context.data_dir), args, &unreachable);
    if (code) return *code;
    if (!unreachable) return report(code.error());
  }
  Arguments rest(args.subspan(1));
  if (auto done = chosen->run(context, rest); !done) return report(done.error());
  return 0;
}

}  // namespace pendrel::desktop
