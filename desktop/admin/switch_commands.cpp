#include "desktop/admin/switch_commands.h"

#include "desktop/admin/store_lock.h"
#include "desktop/store/settings_file.h"

namespace pendrel::desktop {
namespace {

using Outcome = std::expected<void, AdminFailure>;

// The one on|off operand of `command`.
std::expected<bool, AdminFailure> take_switch(std::string_view command, Arguments& args) {
  if (args.done()) return std::unexpected(bad_input(std::string(command) + " takes on or off"));
  auto on = parse_on_off(command, args.take());
  if (!on) return on;
  if (auto end = expect_end(args); !end) return std::unexpected(end.error());
  return on;
}

}  // namespace

Outcome switch_cli(const AdminContext& context, Arguments& args) {
  auto on = take_switch("cli", args);
  if (!on) return std::unexpected(on.error());
  auto lock = StoreLock::acquire(context.data_dir);
  if (!lock) return std::unexpected(lock.error());
  if (auto saved = save_external_cli(context.data_dir, *on ? ExternalCli::on : ExternalCli::off);
      !saved) {
    return std::unexpected(bad_input(saved.error()));
  }
  print(*on ? "command-line access is on\n" : "command-line access is off\n");
  return {};
}

Outcome switch_autostart(const AdminContext& context, Arguments& args) {
  auto on = take_switch("autostart", args);
  if (!on) return std::unexpected(on.error());
  auto lock = StoreLock::acquire(context.data_dir);
  if (!lock) return std::unexpected(lock.error());
  if (auto saved = save_auto_start(context.data_dir, *on); !saved) {
    return std::unexpected(bad_input(saved.error()));
  }
  print(*on ? "pendrel may start the service\n" : "pendrel will not start the service\n");
  return {};
}

}  // namespace pendrel::desktop
