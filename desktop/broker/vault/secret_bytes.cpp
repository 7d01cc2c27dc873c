#include "desktop/broker/vault/secret_bytes.h"

#include <sodium.h>

#include <cstdlib>
#include <cstring>
#include <utility>

namespace pendrel::desktop {

void ensure_sodium_ready() {
  // sodium_init is idempotent and thread-safe; it answers 1 when already initialised.
  if (sodium_init() < 0) std::abort();
}

SecretBytes::SecretBytes(std::size_t size) : size_(size) {
  if (size == 0) return;
  ensure_sodium_ready();
  data_ = static_cast<unsigned char*>(sodium_malloc(size));
  if (data_ == nullptr) std::abort();
  sodium_memzero(data_, size);
}

SecretBytes SecretBytes::copy_of(std::string_view text) {
  SecretBytes copy(text.size());
  if (!text.empty()) std::memcpy(copy.data_, text.data(), text.size());
  return copy;
}

SecretBytes::SecretBytes(SecretBytes&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

SecretBytes& SecretBytes::operator=(SecretBytes&& other) noexcept {
  if (this != &other) {
    release();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

SecretBytes::~SecretBytes() {
  release();
}

void SecretBytes::shrink(std::size_t size) {
  if (size < size_) size_ = size;
}

void SecretBytes::release() {
  // sodium_free wipes the whole allocation before unmapping it.
  if (data_ != nullptr) sodium_free(data_);
  data_ = nullptr;
  size_ = 0;
}

bool secrets_equal(const SecretBytes& a, const SecretBytes& b) {
  if (a.size() != b.size()) return false;
  if (a.empty()) return true;
  return sodium_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace pendrel::desktop
