// The layout of vault.bin: a fixed header, then the body sealed under the data key.
//
// Every integer is little-endian. Offsets in bytes:
//
//     0   8  magic "PDRVAULT"
//     8   4  format version, 1
//    12   4  key derivation algorithm, crypto_pwhash_ALG_ARGON2ID13 (2)
//    16   8  argon2id opslimit
//    24   8  argon2id memlimit, bytes
//    32  16  salt
//    48  24  nonce of the wrapped data key
//    72  48  the 32-byte data key sealed with XChaCha20-Poly1305 under the key derived from the
//            master password, bytes 0..71 as associated data
//   120  24  nonce of the body
//   144  16  BLAKE2b-128 (unkeyed) of bytes 0..143
//   160      the body: the JSON of the contents sealed with XChaCha20-Poly1305 under the data
//            key, bytes 0..159 as associated data; its length is the rest of the file.
//
// The checksum is no protection against an attacker (the wrapped key and the body are); it
// tells a damaged header from a wrong password, which the key unwrapping alone cannot.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>

namespace pendrel::desktop {

constexpr std::uint32_t vault_format_version = 1;
constexpr std::size_t vault_salt_bytes = 16;
constexpr std::size_t vault_nonce_bytes = 24;
constexpr std::size_t vault_key_bytes = 32;
constexpr std::size_t vault_tag_bytes = 16;
constexpr std::size_t vault_wrap_aad_bytes = 72;
constexpr std::size_t vault_header_bytes = 160;
// A file larger than this is not one of ours; reading stops there.
constexpr std::size_t max_vault_file_bytes = 64 * 1024 * 1024;

// How hard the password is to guess by brute force: people get MODERATE (about half a second
// and 256 MiB here), tests INTERACTIVE (64 MiB).
enum class KdfStrength { interactive, moderate };

struct KdfParameters {
  std::uint64_t opslimit = 0;
  std::uint64_t memlimit = 0;
};

[[nodiscard]] KdfParameters kdf_parameters_for(KdfStrength strength);

struct VaultHeader {
  KdfParameters kdf;
  std::array<unsigned char, vault_salt_bytes> salt{};
  std::array<unsigned char, vault_nonce_bytes> key_nonce{};
  std::array<unsigned char, vault_key_bytes + vault_tag_bytes> wrapped_key{};
  std::array<unsigned char, vault_nonce_bytes> body_nonce{};
};

using EncodedHeader = std::array<unsigned char, vault_header_bytes>;

// The header's bytes, checksum included. Its first vault_wrap_aad_bytes bytes depend only on
// the parameters, the salt and the key nonce, so they can be taken before the key is wrapped.
[[nodiscard]] EncodedHeader encode_header(const VaultHeader& header);

// The header at the start of `file`, or why the file is not a readable vault: too short, wrong
// magic, an unknown version or algorithm, a checksum mismatch, or key-derivation parameters
// outside what this program would write (a planted header must not make it spend gigabytes).
[[nodiscard]] std::expected<VaultHeader, std::string> parse_header(
    std::span<const unsigned char> file);

}  // namespace pendrel::desktop
