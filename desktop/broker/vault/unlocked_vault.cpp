#include "desktop/broker/vault/unlocked_vault.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <vector>

#include "desktop/broker/vault/contents_check.h"
#include "desktop/broker/vault/key_sealing.h"
#include "desktop/broker/vault/vault_body.h"
#include "desktop/shared/store/atomic_file.h"
#include "protocol/os_error.h"
#include "protocol/unique_fd.h"

#include <sodium.h>

namespace pendrel::desktop {
namespace {

std::unexpected<VaultError> fail(VaultFailure failure, std::string detail) {
  return std::unexpected(VaultError{failure, std::move(detail)});
}

// The whole file, at most max_vault_file_bytes: a planted device or giant file is "damaged",
// not a reason to read forever.
std::expected<std::vector<unsigned char>, VaultError> read_vault_file(const std::string& path) {
  UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!file) {
    if (errno == ENOENT) return fail(VaultFailure::missing, path + " does not exist");
    return fail(VaultFailure::io_failed, "open " + path + ": " + os_error_text(errno));
  }
  struct stat status {};
  if (::fstat(file.get(), &status) != 0) {
    return fail(VaultFailure::io_failed, "stat " + path + ": " + os_error_text(errno));
  }
  if (!S_ISREG(status.st_mode)) return fail(VaultFailure::damaged, path + " is not a file");
  const auto size = static_cast<std::uint64_t>(status.st_size);
  if (size > max_vault_file_bytes) {
    return fail(VaultFailure::damaged, path + " is too large to be a vault");
  }
  std::vector<unsigned char> bytes;
  bytes.reserve(static_cast<std::size_t>(size));
  unsigned char chunk[65536];
  while (true) {
    const ssize_t got = ::read(file.get(), chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return fail(VaultFailure::io_failed, "read " + path + ": " + os_error_text(errno));
    if (got == 0) break;
    bytes.insert(bytes.end(), chunk, chunk + got);
    if (bytes.size() > max_vault_file_bytes) {
      return fail(VaultFailure::damaged, path + " is too large to be a vault");
    }
  }
  return bytes;
}

std::expected<SecretBytes, VaultError> derive(const SecretString& password,
                                              const VaultHeader& header) {
  auto key = derive_password_key(password, header);
  if (!key) return fail(VaultFailure::no_memory, "the key derivation could not get its memory");
  return std::move(*key);
}

std::expected<void, VaultError> write_vault(const std::string& path, VaultHeader& header,
                                            const SecretBytes& data_key,
                                            const VaultContents& contents, ExistingFile existing) {
  auto body = encode_vault_body(contents);
  if (!body) return fail(VaultFailure::invalid_contents, body.error());
  const std::vector<unsigned char> file = seal_vault_file(header, data_key, *body);
  if (auto written = write_file_atomically(
          path, std::string_view(reinterpret_cast<const char*>(file.data()), file.size()),
          existing);
      !written) {
    const bool exists = existing == ExistingFile::keep && written.error().error_number == EEXIST;
    return exists ? fail(VaultFailure::already_exists, path)
                  : fail(VaultFailure::io_failed, written.error().text());
  }
  return {};
}

// A header with fresh salt for `strength`, holding `data_key` wrapped under `password`.
std::expected<VaultHeader, VaultError> make_header(const SecretString& password,
                                                   KdfStrength strength,
                                                   const SecretBytes& data_key) {
  VaultHeader header;
  header.kdf = kdf_parameters_for(strength);
  randombytes_buf(header.salt.data(), header.salt.size());
  auto password_key = derive(password, header);
  if (!password_key) return std::unexpected(password_key.error());
  wrap_data_key(header, data_key, *password_key);
  return header;
}

}  // namespace

std::expected<void, VaultError> inspect_vault(const std::string& path) {
  auto file = read_vault_file(path);
  if (!file) return std::unexpected(file.error());
  if (auto header = parse_header(*file); !header) {
    return fail(VaultFailure::damaged, path + ": " + header.error());
  }
  if (file->size() < vault_header_bytes + vault_tag_bytes) {
    return fail(VaultFailure::damaged, path + ": truncated inside the body");
  }
  return {};
}

UnlockedVault::UnlockedVault(std::string path, VaultHeader header, SecretBytes data_key,
                             VaultContents contents)
    : path_(std::move(path)),
      header_(header),
      data_key_(std::move(data_key)),
      contents_(std::move(contents)) {}

std::expected<UnlockedVault, VaultError> UnlockedVault::open(std::string path,
                                                             const SecretString& password) {
  ensure_sodium_ready();
  auto file = read_vault_file(path);
  if (!file) return std::unexpected(file.error());
  auto header = parse_header(*file);
  if (!header) return fail(VaultFailure::damaged, path + ": " + header.error());
  // Checked before the costly derivation, so a truncated body is reported as damage.
  if (file->size() < vault_header_bytes + vault_tag_bytes) {
    return fail(VaultFailure::damaged, path + ": truncated inside the body");
  }
  auto password_key = derive(password, *header);
  if (!password_key) return std::unexpected(password_key.error());
  auto data_key = unwrap_data_key(*header, *password_key);
  if (!data_key) {
    return fail(VaultFailure::wrong_password, path + ": the password does not open the vault");
  }
  auto body = open_vault_body(*file, *header, *data_key);
  if (!body) return fail(VaultFailure::damaged, path + ": the body fails to authenticate");
  auto contents = decode_vault_body(*body);
  if (!contents) return fail(VaultFailure::damaged, path + ": " + contents.error());
  return UnlockedVault(std::move(path), *header, std::move(*data_key), std::move(*contents));
}

std::expected<UnlockedVault, VaultError> UnlockedVault::create(std::string path,
                                                               const SecretString& password,
                                                               KdfStrength strength,
                                                               VaultContents contents) {
  ensure_sodium_ready();
  if (password.empty()) return fail(VaultFailure::empty_password, "the password is empty");
  // Refused before the costly derivation; the final rename refuses again if a file appears.
  struct stat status {};
  if (::lstat(path.c_str(), &status) == 0) {
    return fail(VaultFailure::already_exists, path + " exists");
  }
  if (auto checked = check_contents(contents); !checked) {
    return fail(VaultFailure::invalid_contents, checked.error());
  }
  SecretBytes data_key = make_data_key();
  auto header = make_header(password, strength, data_key);
  if (!header) return std::unexpected(header.error());
  if (auto written = write_vault(path, *header, data_key, contents, ExistingFile::keep); !written) {
    return std::unexpected(written.error());
  }
  return UnlockedVault(std::move(path), *header, std::move(data_key), std::move(contents));
}

std::expected<void, VaultError> UnlockedVault::save() {
  VaultHeader header = header_;
  if (auto written = write_vault(path_, header, data_key_, contents_, ExistingFile::replace);
      !written) {
    return written;
  }
  header_ = header;
  return {};
}

std::expected<void, VaultError> UnlockedVault::change_password(const SecretString& current,
                                                               const SecretString& replacement,
                                                               KdfStrength strength) {
  if (replacement.empty()) return fail(VaultFailure::empty_password, "the new password is empty");
  auto current_key = derive(current, header_);
  if (!current_key) return std::unexpected(current_key.error());
  auto unwrapped = unwrap_data_key(header_, *current_key);
  if (!unwrapped || !secrets_equal(*unwrapped, data_key_)) {
    return fail(VaultFailure::wrong_password, "the current password is not this vault's");
  }
  // Only the wrapping changes: the data key, and with it the body's key, stays.
  auto header = make_header(replacement, strength, data_key_);
  if (!header) return std::unexpected(header.error());
  if (auto written = write_vault(path_, *header, data_key_, contents_, ExistingFile::replace);
      !written) {
    return written;
  }
  header_ = *header;
  return {};
}

}  // namespace pendrel::desktop
