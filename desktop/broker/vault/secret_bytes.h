// SecretBytes: bytes kept in libsodium's guarded memory (mlock'd, guard pages, wiped on free).
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace pendrel::desktop {

// A move-only buffer on sodium_malloc. Holds passwords, keys and decrypted vault text so that
// they are never swapped out and are wiped when the owner lets go of them. An empty buffer
// allocates nothing. Running out of memory aborts the process, as a failed `new` would.
class SecretBytes {
 public:
  SecretBytes() = default;
  // `size` zeroed bytes.
  explicit SecretBytes(std::size_t size);
  // A copy of `text`; the caller wipes its own copy.
  [[nodiscard]] static SecretBytes copy_of(std::string_view text);

  SecretBytes(const SecretBytes&) = delete;
  SecretBytes& operator=(const SecretBytes&) = delete;
  SecretBytes(SecretBytes&& other) noexcept;
  SecretBytes& operator=(SecretBytes&& other) noexcept;
  ~SecretBytes();

  [[nodiscard]] std::size_t size() const { return size_; }
  [[nodiscard]] bool empty() const { return size_ == 0; }
  [[nodiscard]] unsigned char* data() { return data_; }
  [[nodiscard]] const unsigned char* data() const { return data_; }
  [[nodiscard]] std::span<unsigned char> bytes() { return {data_, size_}; }
  [[nodiscard]] std::span<const unsigned char> bytes() const { return {data_, size_}; }
  [[nodiscard]] std::string_view view() const {
    return {reinterpret_cast<const char*>(data_), size_};
  }
  // Forgets the bytes past `size` (they stay allocated, and are wiped with the rest).
  void shrink(std::size_t size);
  // A fresh copy in its own guarded memory.
  [[nodiscard]] SecretBytes clone() const { return copy_of(view()); }

 private:
  void release();

  unsigned char* data_ = nullptr;
  std::size_t size_ = 0;
};

// Text secrets (passwords, key texts, passphrases) are the same bytes, read as UTF-8.
using SecretString = SecretBytes;

// Equal length and equal bytes, compared in time independent of the content.
[[nodiscard]] bool secrets_equal(const SecretBytes& a, const SecretBytes& b);

// Makes libsodium ready; every routine of the vault calls it before its first use. Aborts when
// the library cannot start (no usable random source), which nothing here could work around.
void ensure_sodium_ready();

}  // namespace pendrel::desktop
