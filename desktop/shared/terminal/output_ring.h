// The last bytes a shell wrote, kept while nobody watches, for the next client to see.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pendrel::desktop {

inline constexpr std::size_t replay_bytes = 256 * 1024;

class OutputRing {
 public:
  explicit OutputRing(std::size_t capacity = replay_bytes) : capacity_(capacity) {}

  // Keeps the newest `capacity` bytes of everything appended.
  void append(std::string_view bytes);
  // What is kept, oldest first.
  [[nodiscard]] std::string contents() const;

 private:
  std::size_t capacity_;
  std::string buffer_;    // grows to capacity, then wraps
  std::size_t next_ = 0;  // where the next byte goes once full
};

}  // namespace pendrel::desktop
