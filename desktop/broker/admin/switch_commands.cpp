#include "desktop/broker/admin/switch_commands.h"

#include "desktop/broker/admin/password_option.h"
#include "desktop/broker/admin/store_lock.h"
#include "desktop/broker/admin/vault_change.h"
#include "desktop/shared/store/settings_file.h"
#include "protocol/decimal.h"

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

// With a vault the switch is kept there too, under the master password, so that editing
// the settings file cannot switch command-line access back on while the vault is open.
Outcome switch_in_vault(const AdminContext& context, const PasswordSource& source, bool on) {
  auto change = VaultChange::begin(context, source);
  if (!change) return std::unexpected(change.error());
  if (!*change) return {};
  (*change)->contents().external_cli = on ? ExternalCli::on : ExternalCli::off;
  return (*change)->commit();
}

}  // namespace

Outcome switch_cli(const AdminContext& context, Arguments& args) {
  PasswordSource source;
  if (args.done()) return std::unexpected(bad_input("cli takes on or off"));
  auto on = parse_on_off("cli", args.take());
  if (!on) return std::unexpected(on.error());
  auto fd = take_password_fd(args, source);
  if (!fd) return std::unexpected(fd.error());
  if (auto end = expect_end(args); !end) return std::unexpected(end.error());
  auto lock = StoreLock::acquire(context.data_dir);
  if (!lock) return std::unexpected(lock.error());
  if (auto kept = switch_in_vault(context, source, *on); !kept) return kept;
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

Outcome set_idle_lock(const AdminContext& context, Arguments& args) {
  constexpr std::uint32_t max_minutes = 525600;  // a year
  if (args.done()) return std::unexpected(bad_input("autolock takes MINUTES (0: never)"));
  std::string_view given = args.take();
  auto minutes = parse_decimal_u32(given);
  if (!minutes || *minutes > max_minutes)
    return std::unexpected(
        bad_input("autolock takes MINUTES from 0 (never) to 525600, not " + std::string(given)));
  PasswordSource source;
  if (auto fd = take_password_fd(args, source); !fd) return std::unexpected(fd.error());
  if (auto end = expect_end(args); !end) return end;
  auto lock = StoreLock::acquire(context.data_dir);
  if (!lock) return std::unexpected(lock.error());
  auto change = VaultChange::begin(context, source);
  if (!change) return std::unexpected(change.error());
  if (!*change)
    return std::unexpected(
        bad_input("the idle lock is the vault's; create it first with pendrel-desktop init"));
  (*change)->contents().idle_lock_minutes = *minutes;
  if (auto saved = (*change)->commit(); !saved) return saved;
  print(*minutes == 0
            ? "the vault no longer locks itself when unused\n"
            : "the vault locks itself after " + std::to_string(*minutes) + " minutes unused\n");
  return {};
}

}  // namespace pendrel::desktop
