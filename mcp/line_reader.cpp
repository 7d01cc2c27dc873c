#include "mcp/line_reader.h"

#include <unistd.h>

#include <cerrno>

namespace pendrel::mcp {

std::optional<InputLine> LineReader::next() {
  while (true) {
    const std::size_t feed = buffer_.find('\n', scanned_);
    if (feed != std::string::npos) {
      InputLine line{buffer_.substr(0, feed), dropping_};
      buffer_.erase(0, feed + 1);
      scanned_ = 0;
      dropping_ = false;
      if (line.too_long) line.text.clear();
      if (line.text.ends_with('\r')) line.text.pop_back();
      return line;
    }
    scanned_ = buffer_.size();
    if (scanned_ > limit_) {
      dropping_ = true;
      buffer_.clear();
      scanned_ = 0;
    }
    if (ended_) {
      if (buffer_.empty() && !dropping_) return std::nullopt;
      InputLine line{dropping_ ? std::string() : std::move(buffer_), dropping_};
      buffer_.clear();
      dropping_ = false;
      return line;
    }
    char chunk[65536];
    const ssize_t count = ::read(fd_, chunk, sizeof chunk);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) {
      ended_ = true;
      continue;
    }
    buffer_.append(chunk, static_cast<std::size_t>(count));
  }
}

}  // namespace pendrel::mcp
