#include "desktop/admin/switch_commands.h"

#include "desktop/admin/admin_channel.h"
#include "desktop/admin/password_option.h"
#include "desktop/admin/store_lock.h"
#include "desktop/store/settings_file.h"
#include "desktop/vault/plain_hosts.h"
#include "desktop/vault/unlocked_vault.h"

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

// With a vault the switch is kept there too, under the master password, so that editing
// the settings file cannot switch command-line access back on while the vault is open.
Outcome switch_in_vault(const AdminContext& context, const PasswordSource& source, bool on) {
  std::string path = vault_path(context.data_dir);
  if (auto present = inspect_vault(path);
      !present && present.error().failure == VaultFailure::missing)
    return {};
  auto master = ask_password(source, master_prompt);
  if (!master) return std::unexpected(master.error());
  auto vault = UnlockedVault::open(path, *master);
  if (!vault)
    return std::unexpected(bad_input(vault.error().failure == VaultFailure::wrong_password
                                         ? "wrong password; nothing changed"
                                         : "the vault cannot be opened: " + vault.error().detail));
  vault->contents().external_cli = on ? ExternalCli::on : ExternalCli::off;
  if (auto saved = vault->save(); !saved)
    return std::unexpected(bad_input("the vault was not saved: " + saved.error().detail));
  if (auto told = ask_service(context.data_dir, AdminOp::reload, &*master); !told)
    return std::unexpected(told.error());
  return {};
}

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

}  // namespace pendrel::desktop
