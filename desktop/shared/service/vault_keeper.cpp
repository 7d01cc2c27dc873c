#include "desktop/shared/service/vault_keeper.h"

#include <sodium.h>

#include <cstring>

#include "desktop/broker/vault/plain_hosts.h"
#include "desktop/shared/service/app_lock_file.h"

namespace pendrel::desktop {
namespace {

using Clock = std::chrono::steady_clock;

std::string failure_text(const VaultError& error) {
  switch (error.failure) {
    case VaultFailure::missing:
      return "there is no vault yet; create it with pendrel-desktop init";
    case VaultFailure::wrong_password:
      return "wrong password";
    case VaultFailure::damaged:
      return "the vault cannot be opened: " + error.detail;
    case VaultFailure::no_memory:
      return "not enough memory to derive the key";
    default:
      return "the vault cannot be read: " + error.detail;
  }
}

}  // namespace

const char* vault_state_name(VaultState state) {
  switch (state) {
    case VaultState::needs_setup:
      return "needs_setup";
    case VaultState::locked:
      return "locked";
    case VaultState::unlocked:
      return "unlocked";
    case VaultState::key_lost:
      return "key_lost";
  }
  return "locked";
}

VaultKeeper::VaultKeeper(std::string data_dir, const ServiceLog& log,
                         std::optional<std::string> unlock_refused,
                         std::optional<std::uint64_t> idle_override_seconds)
    : path_(vault_path(data_dir)),
      data_dir_(std::move(data_dir)),
      log_(log),
      unlock_refused_(std::move(unlock_refused)),
      idle_override_seconds_(idle_override_seconds),
      app_locked_(app_lock_recorded(data_dir_)),
      idle_watch_([this] { watch_idle(); }) {
  if (app_locked_) log_.write("every request is refused until unlock: lock --all was given before");
}

VaultKeeper::~VaultKeeper() {
  {
    std::lock_guard guard(mutex_);
    stopping_ = true;
    vault_.reset();
  }
  wake_.notify_all();
  idle_watch_.join();
}

// A closed vault's state is read from the file each time: `init` may create it meanwhile, and
// a damaged file must be reported as such before anyone types a password.
VaultState VaultKeeper::closed_state() {
  auto inspected = inspect_vault(path_);
  if (inspected) return body_damaged_ ? VaultState::key_lost : VaultState::locked;
  if (inspected.error().failure == VaultFailure::missing) return VaultState::needs_setup;
  if (inspected.error().failure == VaultFailure::damaged)
    log_.write("vault " + path_ + " is damaged: " + inspected.error().detail);
  return VaultState::key_lost;
}

VaultStatus VaultKeeper::status() {
  std::lock_guard guard(mutex_);
  VaultStatus status;
  status.state = vault_ ? VaultState::unlocked : closed_state();
  status.app_locked = app_locked_;
  status.unlock_refused = unlock_refused_;
  if (idle_override_seconds_)
    status.idle_lock_seconds = *idle_override_seconds_;
  else if (vault_)
    status.idle_lock_seconds = std::uint64_t{vault_->contents().idle_lock_minutes} * 60;
  return status;
}

bool VaultKeeper::app_locked() {
  std::lock_guard guard(mutex_);
  return app_locked_;
}

std::optional<Refusal> VaultKeeper::admit(const HostRecord& plain) {
  std::lock_guard guard(mutex_);
  if (!vault_) {
    if (plain.protocol == HostProtocol::local) return std::nullopt;
    switch (closed_state()) {
      case VaultState::needs_setup:
        return Refusal{ErrorCode::vault_needs_setup, "run pendrel-desktop init"};
      case VaultState::key_lost:
        return Refusal{ErrorCode::vault_key_lost, path_};
      default:
        return Refusal{ErrorCode::vault_locked, "run pendrel-desktop unlock"};
    }
  }
  last_use_ = Clock::now();
  auto found = vault_->contents().hosts.find(plain.id);
  if (found == vault_->contents().hosts.end()) {
    // A LOCAL entry the vault does not know gives nothing away; an SSH one could only have
    // been planted in the plain file.
    if (plain.protocol == HostProtocol::local) return std::nullopt;
    log_.write("refused host " + plain.id + ": it is in the plain hosts file but not the vault");
    return Refusal{ErrorCode::bad_request,
                   "host " + plain.id + " was edited outside pendrel-desktop; set it again there"};
  }
  if (auto field = plain_disagreement(plain, found->second)) {
    log_.write("refused host " + plain.id + ": its " + *field +
               " in the plain hosts file differs from the vault");
    return Refusal{ErrorCode::bad_request, "the " + *field + " of host " + plain.id +
                                               " was edited outside pendrel-desktop"};
  }
  if (plain.protocol == HostProtocol::ssh && !requests_can_log_in(found->second)) {
    return Refusal{ErrorCode::credential_missing,
                   (found->second.cli_login ? "the command-line login of host " : "host ") +
                       plain.id + " has no password or key stored and may not use the agent"};
  }
  return std::nullopt;
}

std::expected<void, std::string> VaultKeeper::unlock(const SecretString& password) {
  if (unlock_refused_) return std::unexpected(*unlock_refused_);
  auto opened = UnlockedVault::open(path_, password);
  std::lock_guard guard(mutex_);
  if (!opened) {
    if (opened.error().failure == VaultFailure::damaged) {
      body_damaged_ = true;
      log_.write("vault " + path_ + " cannot be opened: " + opened.error().detail);
    }
    return std::unexpected(failure_text(opened.error()));
  }
  vault_.emplace(std::move(*opened));
  if (open_or_close_listener_) open_or_close_listener_();
  if (auto cleared = clear_app_lock(data_dir_); !cleared) log_.write(cleared.error());
  app_locked_ = false;
  body_damaged_ = false;
  last_use_ = Clock::now();
  log_.write("vault unlocked");
  wake_.notify_all();
  return {};
}

std::expected<void, std::string> VaultKeeper::reload(const SecretString& password) {
  // A process that may not unlock never opens the vault, not even to check a password.
  if (unlock_refused_) return {};
  bool open = false;
  {
    std::lock_guard guard(mutex_);
    open = vault_.has_value();
  }
  if (open) return unlock(password);
  auto opened = UnlockedVault::open(path_, password);
  if (!opened) return std::unexpected(failure_text(opened.error()));
  return {};
}

void VaultKeeper::lock(bool all) {
  std::lock_guard guard(mutex_);
  if (all) {
    app_locked_ = true;
    if (auto recorded = record_app_lock(data_dir_); !recorded)
      log_.write("the whole-application lock will not outlast this service: " + recorded.error());
  }
  lock_locked(all ? "locked with every request refused" : "locked");
}

void VaultKeeper::lock_locked(std::string_view why) {
  if (vault_) vault_.reset();
  if (open_or_close_listener_) open_or_close_listener_();
  log_.write("vault " + std::string(why));
}

void VaultKeeper::on_open_or_close(std::function<void()> listener) {
  std::lock_guard guard(mutex_);
  open_or_close_listener_ = std::move(listener);
}

bool VaultKeeper::can_check_approval() {
  return !unlock_refused_ && inspect_vault(path_).has_value();
}

ApprovalSecret VaultKeeper::check_approval_secret(const SecretString& secret, bool pin_accepted) {
  // A process that may not unlock never opens the vault, not even to check a password.
  if (unlock_refused_ || secret.empty()) return ApprovalSecret::none;
  std::optional<SecretString> pin_hash;
  {
    std::lock_guard guard(mutex_);
    if (pin_accepted && vault_ && vault_->contents().approval_pin_hash)
      pin_hash = vault_->contents().approval_pin_hash->clone();
  }
  // The derivation takes its time outside the lock, so that requests go on meanwhile.
  if (pin_hash && pin_hash->size() < crypto_pwhash_STRBYTES) {
    char stored[crypto_pwhash_STRBYTES] = {};
    std::memcpy(stored, pin_hash->data(), pin_hash->size());
    bool right = crypto_pwhash_str_verify(stored, reinterpret_cast<const char*>(secret.data()),
                                          secret.size()) == 0;
    sodium_memzero(stored, sizeof stored);
    if (right) return ApprovalSecret::pin;
  }
  if (UnlockedVault::open(path_, secret)) return ApprovalSecret::master_password;
  return ApprovalSecret::none;
}

bool VaultKeeper::external_cli_off() {
  std::lock_guard guard(mutex_);
  return vault_ && vault_->contents().external_cli == ExternalCli::off;
}

std::optional<std::string> VaultKeeper::rules_json() {
  std::lock_guard guard(mutex_);
  if (!vault_) return std::nullopt;
  return vault_->contents().rules_json;
}

bool VaultKeeper::with_host(const std::string& id,
                            const std::function<void(const VaultHost&)>& use) {
  std::lock_guard guard(mutex_);
  if (!vault_) return false;
  auto found = vault_->contents().hosts.find(id);
  if (found == vault_->contents().hosts.end()) return false;
  last_use_ = Clock::now();
  use(found->second);
  return true;
}

bool VaultKeeper::with_ssh_host(
    const std::string& id, const std::function<void(const VaultHost&, const KnownHostKeys*)>& use) {
  std::lock_guard guard(mutex_);
  if (!vault_) return false;
  const VaultContents& contents = vault_->contents();
  auto found = contents.hosts.find(id);
  if (found == contents.hosts.end()) return false;
  last_use_ = Clock::now();
  const VaultHost& host = found->second;
  auto keys = contents.host_keys.find(host_key_entry(host.address, host.port));
  use(host, keys == contents.host_keys.end() ? nullptr : &keys->second);
  return true;
}

// Locks the open vault once it has gone unused for the idle time; checks every half second.
void VaultKeeper::watch_idle() {
  std::unique_lock guard(mutex_);
  while (!stopping_) {
    wake_.wait_for(guard, std::chrono::milliseconds(500));
    if (stopping_ || !vault_) continue;
    std::uint64_t idle_seconds = idle_override_seconds_
                                     ? *idle_override_seconds_
                                     : std::uint64_t{vault_->contents().idle_lock_minutes} * 60;
    if (idle_seconds == 0) continue;
    if (Clock::now() - last_use_ >= std::chrono::seconds(idle_seconds)) {
      lock_locked("locked after " + std::to_string(idle_seconds) + " s unused");
    }
  }
}

}  // namespace pendrel::desktop
