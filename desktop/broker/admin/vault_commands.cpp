#include "desktop/broker/admin/vault_commands.h"

#include <unistd.h>

#include "desktop/broker/admin/admin_channel.h"
#include "desktop/broker/admin/passed_file.h"
#include "desktop/broker/admin/password_option.h"
#include "desktop/broker/admin/personal_mode_note.h"
#include "desktop/broker/admin/store_lock.h"
#include "desktop/broker/rules/rule_settings_json.h"
#include "desktop/broker/vault/plain_hosts.h"
#include "desktop/broker/vault/unlocked_vault.h"
#include "desktop/shared/service/app_lock_file.h"
#include "desktop/shared/store/atomic_file.h"
#include "desktop/shared/store/hosts_file.h"
#include "desktop/shared/store/settings_file.h"
#include "protocol/environment.h"
#include "protocol/os_error.h"

namespace pendrel::desktop {
namespace {

using Outcome = std::expected<void, AdminFailure>;

AdminFailure service_needed() {
  return AdminFailure{3, "the service is not running; start it with pendrel-desktop serve"};
}

// The only option of these commands.
std::expected<PasswordSource, AdminFailure> source_only(Arguments& args) {
  PasswordSource source;
  auto taken = take_password_fd(args, source);
  if (!taken) return std::unexpected(taken.error());
  if (auto end = expect_end(args); !end) return std::unexpected(end.error());
  return source;
}

std::string vault_failure_text(const VaultError& error) {
  switch (error.failure) {
    case VaultFailure::wrong_password:
      return "wrong password";
    case VaultFailure::already_exists:
      return "a vault exists already at " + error.detail;
    case VaultFailure::missing:
      return "there is no vault yet; create it with pendrel-desktop init";
    default:
      return error.detail;
  }
}

void print_state(const VaultReport& report) {
  std::string line = "the vault is " + report.state;
  if (report.app_locked) line += "; every request is refused until it is unlocked";
  print(line + "\n");
}

}  // namespace

// The old vault.bin of a data directory, handed to the broker by the person's `init --import`:
// taken as it is once the master password opens it, with its hosts listed from it.
Outcome import_vault(const AdminContext& context, const PasswordSource& source,
                     const std::string& from) {
  auto lock = StoreLock::acquire(context.data_dir);
  if (!lock) return std::unexpected(lock.error());
  std::string path = vault_path(context.data_dir);
  if (auto present = inspect_vault(path);
      present || present.error().failure != VaultFailure::missing)
    return std::unexpected(bad_input("a vault exists already; it is never replaced"));
  auto bytes = read_passed_file(from);
  if (!bytes)
    return std::unexpected(
        bad_input("cannot read the vault to import: " + os_error_text(bytes.error())));
  if (auto written = write_file_atomically(path, *bytes, ExistingFile::keep); !written)
    return std::unexpected(bad_input(written.error().text()));
  auto password = ask_password(source, master_prompt);
  if (!password) {
    ::unlink(path.c_str());
    return std::unexpected(password.error());
  }
  auto vault = UnlockedVault::open(path, *password);
  if (!vault) {
    ::unlink(path.c_str());
    return std::unexpected(bad_input(vault_failure_text(vault.error()) + "; nothing imported"));
  }
  auto hosts = plain_hosts_from(vault->contents());
  if (auto saved = save_hosts(context.data_dir, hosts); !saved)
    return std::unexpected(bad_input(saved.error().text()));
  print("moved the vault into the broker with " + std::to_string(hosts.size()) +
        " hosts; it is locked until pendrel-desktop unlock\n");
  return {};
}

Outcome init_vault(const AdminContext& context, Arguments& args) {
  PasswordSource source;
  std::optional<std::string> import_from;
  while (!args.done()) {
    auto taken = take_password_fd(args, source);
    if (!taken) return std::unexpected(taken.error());
    if (*taken) continue;
    if (args.flag("--import"))
      return std::unexpected(
          bad_input("--import moves a vault into the broker, and no broker is configured here"));
    auto from = args.value_of("--import-from");
    if (!from) return std::unexpected(from.error());
    if (!*from) break;
    // Only the broker's own form of --import: the person's command opens the file.
    if (!context.in_broker) return std::unexpected(bad_input("unknown option --import-from"));
    import_from = **from;
  }
  if (auto end = expect_end(args); !end) return end;
  if (import_from) return import_vault(context, source, *import_from);
  auto lock = StoreLock::acquire(context.data_dir);
  if (!lock) return std::unexpected(lock.error());
  std::string path = vault_path(context.data_dir);
  if (auto present = inspect_vault(path);
      present || present.error().failure != VaultFailure::missing)
    return std::unexpected(
        bad_input("a vault exists already at " + path + "; it is never replaced"));
  auto hosts = load_hosts(context.data_dir);
  if (!hosts) return std::unexpected(bad_input(hosts.error()));
  auto settings = load_settings(context.data_dir);
  if (!settings) return std::unexpected(bad_input(settings.error()));
  auto password = ask_new_password(source, "New master password: ", "Repeat it: ");
  if (!password) return std::unexpected(password.error());
  VaultContents contents = contents_from_plain(*hosts);
  contents.external_cli = settings->external_cli;
  // From now on the vault holds the rules; settings.json keeps the copy it already has.
  contents.rules_json = encode_rule_settings(settings->rules);
  auto created = UnlockedVault::create(
      path, *password, kdf_strength_for(Environment::from_process()), std::move(contents));
  if (!created) return std::unexpected(bad_input(vault_failure_text(created.error())));
  if (auto saved = save_hosts(context.data_dir, plain_hosts_from(created->contents())); !saved)
    return std::unexpected(bad_input(saved.error().text()));
  print("created the vault " + path + " with " + std::to_string(hosts->size()) +
        " hosts; a running service has it locked until pendrel-desktop unlock\n");
  note_personal_mode(context);
  return {};
}

Outcome unlock_vault(const AdminContext& context, Arguments& args) {
  auto source = source_only(args);
  if (!source) return std::unexpected(source.error());
  auto status = ask_service(context.data_dir, AdminOp::status);
  if (!status) return std::unexpected(status.error());
  if (!*status) return std::unexpected(service_needed());
  // Say why before the person types a password for nothing.
  if ((*status)->unlock_refused)
    return std::unexpected(bad_input("the service will not unlock: " + *(*status)->unlock_refused));
  if ((*status)->state == "needs_setup")
    return std::unexpected(bad_input("there is no vault yet; create it with pendrel-desktop init"));
  auto password = ask_password(*source, master_prompt);
  if (!password) return std::unexpected(password.error());
  auto unlocked = ask_service(context.data_dir, AdminOp::unlock, &*password);
  if (!unlocked) return std::unexpected(unlocked.error());
  if (!*unlocked) return std::unexpected(service_needed());
  print_state(**unlocked);
  note_personal_mode(context);
  return {};
}

Outcome lock_vault(const AdminContext& context, Arguments& args) {
  bool all = args.flag("--all");
  if (auto end = expect_end(args); !end) return end;
  auto locked = ask_service(context.data_dir, all ? AdminOp::lock_all : AdminOp::lock);
  if (!locked) return std::unexpected(locked.error());
  if (!*locked) {
    if (all) {
      // The record is what the next service starts from.
      if (auto recorded = record_app_lock(context.data_dir); !recorded)
        return std::unexpected(bad_input(recorded.error()));
      print(
          "the service is not running; once it starts, every request is refused until "
          "pendrel-desktop unlock\n");
      return {};
    }
    print("the service is not running; the vault is locked at rest\n");
    return {};
  }
  print_state(**locked);
  return {};
}

Outcome change_master_password(const AdminContext& context, Arguments& args) {
  auto source = source_only(args);
  if (!source) return std::unexpected(source.error());
  auto lock = StoreLock::acquire(context.data_dir);
  if (!lock) return std::unexpected(lock.error());
  auto current = ask_password(*source, "Current master password: ");
  if (!current) return std::unexpected(current.error());
  auto vault = UnlockedVault::open(vault_path(context.data_dir), *current);
  if (!vault) return std::unexpected(bad_input(vault_failure_text(vault.error())));
  auto replacement = ask_new_password(*source, "New master password: ", "Repeat it: ");
  if (!replacement) return std::unexpected(replacement.error());
  if (auto changed = vault->change_password(*current, *replacement,
                                            kdf_strength_for(Environment::from_process()));
      !changed)
    return std::unexpected(bad_input(vault_failure_text(changed.error())));
  if (auto told = ask_service(context.data_dir, AdminOp::reload, &*replacement); !told)
    return std::unexpected(
        bad_input("changed, but the service did not take it up: " + told.error().message));
  print("the master password is changed\n");
  return {};
}

}  // namespace pendrel::desktop
