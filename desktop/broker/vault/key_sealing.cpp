#include "desktop/broker/vault/key_sealing.h"

#include <sodium.h>

#include <algorithm>
#include <variant>

namespace pendrel::desktop {

static_assert(vault_key_bytes == crypto_aead_xchacha20poly1305_ietf_KEYBYTES);
static_assert(vault_nonce_bytes == crypto_aead_xchacha20poly1305_ietf_NPUBBYTES);
static_assert(vault_tag_bytes == crypto_aead_xchacha20poly1305_ietf_ABYTES);
static_assert(vault_salt_bytes == crypto_pwhash_SALTBYTES);

std::expected<SecretBytes, std::monostate> derive_password_key(const SecretString& password,
                                                               const VaultHeader& header) {
  SecretBytes key(vault_key_bytes);
  if (crypto_pwhash(key.data(), key.size(), reinterpret_cast<const char*>(password.data()),
                    password.size(), header.salt.data(), header.kdf.opslimit,
                    static_cast<std::size_t>(header.kdf.memlimit),
                    crypto_pwhash_ALG_ARGON2ID13) != 0) {
    return std::unexpected(std::monostate{});
  }
  return key;
}

SecretBytes make_data_key() {
  SecretBytes key(vault_key_bytes);
  crypto_aead_xchacha20poly1305_ietf_keygen(key.data());
  return key;
}

void wrap_data_key(VaultHeader& header, const SecretBytes& data_key,
                   const SecretBytes& password_key) {
  randombytes_buf(header.key_nonce.data(), header.key_nonce.size());
  const EncodedHeader encoded = encode_header(header);
  unsigned long long sealed_length = 0;
  crypto_aead_xchacha20poly1305_ietf_encrypt(
      header.wrapped_key.data(), &sealed_length, data_key.data(), data_key.size(), encoded.data(),
      vault_wrap_aad_bytes, nullptr, header.key_nonce.data(), password_key.data());
}

std::expected<SecretBytes, std::monostate> unwrap_data_key(const VaultHeader& header,
                                                           const SecretBytes& password_key) {
  const EncodedHeader encoded = encode_header(header);
  SecretBytes data_key(vault_key_bytes);
  unsigned long long opened_length = 0;
  if (crypto_aead_xchacha20poly1305_ietf_decrypt(
          data_key.data(), &opened_length, nullptr, header.wrapped_key.data(),
          header.wrapped_key.size(), encoded.data(), vault_wrap_aad_bytes, header.key_nonce.data(),
          password_key.data()) != 0) {
    return std::unexpected(std::monostate{});
  }
  return data_key;
}

std::vector<unsigned char> seal_vault_file(VaultHeader& header, const SecretBytes& data_key,
                                           const SecretBytes& body) {
  randombytes_buf(header.body_nonce.data(), header.body_nonce.size());
  const EncodedHeader encoded = encode_header(header);
  std::vector<unsigned char> file(vault_header_bytes + body.size() + vault_tag_bytes);
  std::copy(encoded.begin(), encoded.end(), file.begin());
  unsigned long long sealed_length = 0;
  crypto_aead_xchacha20poly1305_ietf_encrypt(
      file.data() + vault_header_bytes, &sealed_length, body.data(), body.size(), encoded.data(),
      encoded.size(), nullptr, header.body_nonce.data(), data_key.data());
  return file;
}

std::expected<SecretBytes, std::monostate> open_vault_body(std::span<const unsigned char> file,
                                                           const VaultHeader& header,
                                                           const SecretBytes& data_key) {
  if (file.size() < vault_header_bytes + vault_tag_bytes) return std::unexpected(std::monostate{});
  const auto sealed = file.subspan(vault_header_bytes);
  SecretBytes body(sealed.size() - vault_tag_bytes);
  unsigned long long opened_length = 0;
  // The header bytes as found in the file: re-encoding them would hide a change the
  // checksum missed.
  if (crypto_aead_xchacha20poly1305_ietf_decrypt(
          body.data(), &opened_length, nullptr, sealed.data(), sealed.size(), file.data(),
          vault_header_bytes, header.body_nonce.data(), data_key.data()) != 0) {
    return std::unexpected(std::monostate{});
  }
  return body;
}

}  // namespace pendrel::desktop
