#include "desktop/broker/vault/vault_format.h"

#include <sodium.h>

#include <algorithm>
#include <cstring>

#include "desktop/broker/vault/secret_bytes.h"

namespace pendrel::desktop {
namespace {

constexpr std::array<unsigned char, 8> magic = {'P', 'D', 'R', 'V', 'A', 'U', 'L', 'T'};
constexpr std::size_t checksum_offset = 144;
constexpr std::size_t checksum_bytes = vault_header_bytes - checksum_offset;
static_assert(checksum_bytes >= crypto_generichash_BYTES_MIN);

void put_le(unsigned char* out, std::uint64_t value, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i)
    out[i] = static_cast<unsigned char>(value >> (8 * i));
}

std::uint64_t get_le(const unsigned char* in, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < width; ++i)
    value |= std::uint64_t{in[i]} << (8 * i);
  return value;
}

std::array<unsigned char, checksum_bytes> checksum_of(std::span<const unsigned char> covered) {
  std::array<unsigned char, checksum_bytes> sum{};
  crypto_generichash(sum.data(), sum.size(), covered.data(), covered.size(), nullptr, 0);
  return sum;
}

}  // namespace

KdfParameters kdf_parameters_for(KdfStrength strength) {
  if (strength == KdfStrength::interactive) {
    return {crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE};
  }
  return {crypto_pwhash_OPSLIMIT_MODERATE, crypto_pwhash_MEMLIMIT_MODERATE};
}

EncodedHeader encode_header(const VaultHeader& header) {
  ensure_sodium_ready();
  EncodedHeader out{};
  unsigned char* p = out.data();
  std::copy(magic.begin(), magic.end(), p);
  put_le(p + 8, vault_format_version, 4);
  put_le(p + 12, static_cast<std::uint64_t>(crypto_pwhash_ALG_ARGON2ID13), 4);
  put_le(p + 16, header.kdf.opslimit, 8);
  put_le(p + 24, header.kdf.memlimit, 8);
  std::copy(header.salt.begin(), header.salt.end(), p + 32);
  std::copy(header.key_nonce.begin(), header.key_nonce.end(), p + 48);
  std::copy(header.wrapped_key.begin(), header.wrapped_key.end(), p + 72);
  std::copy(header.body_nonce.begin(), header.body_nonce.end(), p + 120);
  auto sum = checksum_of(std::span(out).first(checksum_offset));
  std::copy(sum.begin(), sum.end(), p + checksum_offset);
  return out;
}

std::expected<VaultHeader, std::string> parse_header(std::span<const unsigned char> file) {
  ensure_sodium_ready();
  const unsigned char* p = file.data();
  if (file.size() < magic.size() || !std::equal(magic.begin(), magic.end(), p)) {
    return std::unexpected("not a vault file (no vault magic number)");
  }
  if (file.size() < 12) return std::unexpected("truncated inside the header");
  // The version comes before the length check: a newer format may have another header size.
  if (auto version = get_le(p + 8, 4); version != vault_format_version) {
    return std::unexpected("unknown vault format version " + std::to_string(version));
  }
  if (file.size() < vault_header_bytes) return std::unexpected("truncated inside the header");
  auto sum = checksum_of(file.first(checksum_offset));
  if (sodium_memcmp(sum.data(), p + checksum_offset, sum.size()) != 0) {
    return std::unexpected("the header is damaged (checksum mismatch)");
  }
  if (get_le(p + 12, 4) != static_cast<std::uint64_t>(crypto_pwhash_ALG_ARGON2ID13)) {
    return std::unexpected("unknown key derivation algorithm");
  }
  VaultHeader header;
  header.kdf = {get_le(p + 16, 8), get_le(p + 24, 8)};
  const KdfParameters strongest = {crypto_pwhash_OPSLIMIT_SENSITIVE,
                                   crypto_pwhash_MEMLIMIT_SENSITIVE};
  if (header.kdf.opslimit < crypto_pwhash_OPSLIMIT_MIN ||
      header.kdf.opslimit > strongest.opslimit ||
      header.kdf.memlimit < crypto_pwhash_MEMLIMIT_MIN ||
      header.kdf.memlimit > strongest.memlimit) {
    return std::unexpected("key derivation parameters out of range");
  }
  std::memcpy(header.salt.data(), p + 32, header.salt.size());
  std::memcpy(header.key_nonce.data(), p + 48, header.key_nonce.size());
  std::memcpy(header.wrapped_key.data(), p + 72, header.wrapped_key.size());
  std::memcpy(header.body_nonce.data(), p + 120, header.body_nonce.size());
  return header;
}

}  // namespace pendrel::desktop
