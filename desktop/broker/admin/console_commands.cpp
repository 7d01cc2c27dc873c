#include "desktop/broker/admin/console_commands.h"

#include <sodium.h>

#include "desktop/broker/admin/admin_channel.h"
#include "desktop/broker/admin/password_option.h"
#include "desktop/broker/admin/store_lock.h"
#include "desktop/broker/console/console_session.h"
#include "desktop/broker/vault/plain_hosts.h"
#include "desktop/broker/vault/unlocked_vault.h"
#include "protocol/environment.h"

namespace pendrel::desktop {
namespace {

using Outcome = std::expected<void, AdminFailure>;

std::optional<SecretString> hash_pin(const SecretString& pin, KdfStrength strength) {
  ensure_sodium_ready();
  KdfParameters kdf = kdf_parameters_for(strength);
  char hashed[crypto_pwhash_STRBYTES] = {};
  if (crypto_pwhash_str(hashed, reinterpret_cast<const char*>(pin.data()), pin.size(), kdf.opslimit,
                        static_cast<std::size_t>(kdf.memlimit)) != 0)
    return std::nullopt;
  SecretString stored = SecretString::copy_of(hashed);
  sodium_memzero(hashed, sizeof hashed);
  return stored;
}

// Opens the vault with the master password, changes the PIN, saves, tells the service.
Outcome change_pin(const AdminContext& context, const PasswordSource& source, bool set) {
  auto lock = StoreLock::acquire(context.data_dir);
  if (!lock) return std::unexpected(lock.error());
  std::string path = vault_path(context.data_dir);
  if (auto present = inspect_vault(path); !present)
    return std::unexpected(
        bad_input(present.error().failure == VaultFailure::missing
                      ? "there is no vault yet; create it with pendrel-desktop init"
                      : "the vault cannot be read: " + present.error().detail));
  auto master = ask_password(source, master_prompt);
  if (!master) return std::unexpected(master.error());
  auto vault = UnlockedVault::open(path, *master);
  if (!vault)
    return std::unexpected(bad_input(vault.error().failure == VaultFailure::wrong_password
                                         ? "wrong password"
                                         : "the vault cannot be opened: " + vault.error().detail));
  if (set) {
    auto pin = ask_new_password(source, "New approval PIN: ", "Repeat it: ");
    if (!pin) return std::unexpected(pin.error());
    if (pin->size() < min_pin_bytes)
      return std::unexpected(
          bad_input("the PIN must be at least " + std::to_string(min_pin_bytes) + " characters"));
    if (secrets_equal(*pin, *master))
      return std::unexpected(bad_input("the PIN must differ from the master password"));
    auto hashed = hash_pin(*pin, kdf_strength_for(Environment::from_process()));
    if (!hashed) return std::unexpected(bad_input("not enough memory to hash the PIN"));
    vault->contents().approval_pin_hash = std::move(*hashed);
  } else {
    vault->contents().approval_pin_hash.reset();
  }
  if (auto saved = vault->save(); !saved)
    return std::unexpected(bad_input("cannot save the vault: " + saved.error().detail));
  auto told = ask_service(context.data_dir, AdminOp::reload, &*master);
  if (!told)
    return std::unexpected(
        bad_input("saved, but the service did not take it up: " + told.error().message));
  print(set ? "the approval PIN is set\n" : "the approval PIN is cleared\n");
  return {};
}

}  // namespace

Outcome open_console(const AdminContext& context, Arguments& args) {
  if (auto end = expect_end(args); !end) return end;
  auto ran = run_console(context.data_dir);
  if (!ran) return std::unexpected(AdminFailure{ran.error().exit_code, ran.error().message});
  return {};
}

Outcome run_pin_command(const AdminContext& context, Arguments& args) {
  std::string_view action = args.done() ? std::string_view() : args.take();
  if (action != "set" && action != "clear")
    return std::unexpected(bad_input("usage: pendrel-desktop pin set|clear [--password-fd N]"));
  PasswordSource source;
  if (auto taken = take_password_fd(args, source); !taken) return std::unexpected(taken.error());
  if (auto end = expect_end(args); !end) return end;
  return change_pin(context, source, action == "set");
}

}  // namespace pendrel::desktop
