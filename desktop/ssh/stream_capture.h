// One output stream of a remote command: the first bytes kept up to a bound, the rest counted
// and dropped, handed out as text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace pendrel::desktop {

// Each of stdout and stderr is cut at this many bytes.
inline constexpr std::size_t remote_stream_limit = 1'048'576;

class StreamCapture {
 public:
  explicit StreamCapture(std::size_t limit = remote_stream_limit) : limit_(limit) {}

  void append(std::string_view bytes);

  [[nodiscard]] bool truncated() const { return total_ > limit_ || text_cut_; }
  [[nodiscard]] std::uint64_t total_bytes() const { return total_; }

  // The kept bytes as text: invalid UTF-8 becomes U+FFFD, a character cut by the bound is
  // dropped whole, and the text itself stays within the bound (replacements are longer than
  // the bytes they replace).
  [[nodiscard]] std::string take_text();

 private:
  std::size_t limit_;
  std::string kept_;
  std::uint64_t total_ = 0;
  bool text_cut_ = false;
};

}  // namespace pendrel::desktop
