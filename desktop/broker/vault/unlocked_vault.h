// UnlockedVault: vault.bin opened with the master password; create, open, save, re-key.
//
// Typical use by the service:
//
//   auto vault = UnlockedVault::open(data_dir + "/vault.bin", password);
//   if (!vault) switch (vault.error().failure) { ... }   // see VaultFailure
//   vault->contents().hosts[id].address = ...;
//   if (auto saved = vault->save(); !saved) ...
//
// Locking is destroying the UnlockedVault: the data key and every secret of the contents live
// in guarded memory that is wiped when it goes. One UnlockedVault is not safe to use from two
// threads at once, and two of them must not save the same file: the service holds one, under
// its own lock.
#pragma once

#include <expected>
#include <string>

#include "desktop/broker/vault/secret_bytes.h"
#include "desktop/broker/vault/vault_contents.h"
#include "desktop/broker/vault/vault_format.h"

namespace pendrel::desktop {

enum class VaultFailure {
  missing,           // there is no vault file: the vault needs setting up
  wrong_password,    // the header is intact but the password does not open the data key
  damaged,           // truncated, not a vault, an unknown version, a header or body that fails
                     // its checksum, authentication or parsing: the key is as good as lost
  already_exists,    // create: a vault file is there already, and is never replaced
  invalid_contents,  // save or create: contents that would not read back (see check_contents)
  empty_password,    // create or change_password: an empty master password is refused
  no_memory,         // the key derivation could not get its memory
  io_failed,         // reading or writing the file failed
};

struct VaultError {
  VaultFailure failure = VaultFailure::io_failed;
  std::string detail;  // for the log: the path and what was wrong; never a secret
};

// Whether `path` holds a vault whose header reads, without the password. The body can only be
// checked by opening it. Fails with missing, damaged or io_failed.
[[nodiscard]] std::expected<void, VaultError> inspect_vault(const std::string& path);

class UnlockedVault {
 public:
  // Reads and decrypts the vault at `path`. Fails with missing, wrong_password, damaged,
  // no_memory or io_failed; never writes anything.
  [[nodiscard]] static std::expected<UnlockedVault, VaultError> open(std::string path,
                                                                     const SecretString& password);

  // Makes a new vault at `path` with a fresh data key and salt, holding `contents`. Fails with
  // already_exists when any file is at `path` (a damaged vault is never overwritten),
  // invalid_contents, empty_password, no_memory or io_failed.
  [[nodiscard]] static std::expected<UnlockedVault, VaultError> create(std::string path,
                                                                       const SecretString& password,
                                                                       KdfStrength strength,
                                                                       VaultContents contents);

  UnlockedVault(UnlockedVault&&) noexcept = default;
  UnlockedVault& operator=(UnlockedVault&&) noexcept = default;

  [[nodiscard]] VaultContents& contents() { return contents_; }
  [[nodiscard]] const VaultContents& contents() const { return contents_; }
  [[nodiscard]] const std::string& path() const { return path_; }

  // Writes the contents to the file, replacing it atomically: same data key, fresh body nonce.
  // Fails with invalid_contents (the file is left alone) or io_failed.
  [[nodiscard]] std::expected<void, VaultError> save();

  // Re-wraps the data key under `replacement` with a fresh salt and `strength`, after checking
  // `current` against the key this vault was opened with, and saves. Fails with
  // wrong_password (nothing changes), empty_password, no_memory, invalid_contents or io_failed;
  // on failure the file and this object keep the old password.
  [[nodiscard]] std::expected<void, VaultError> change_password(const SecretString& current,
                                                                const SecretString& replacement,
                                                                KdfStrength strength);

 private:
  UnlockedVault(std::string path, VaultHeader header, SecretBytes data_key, VaultContents contents);

  std::string path_;
  VaultHeader header_;  // as last written; the body nonce is renewed on every save
  SecretBytes data_key_;
  VaultContents contents_;
};

}  // namespace pendrel::desktop
