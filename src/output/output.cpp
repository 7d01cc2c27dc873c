#include "output/output.h"

#include "protocol/fd_io.h"

namespace pendrel {

void LineBufferedSink::write(std::string_view text) {
  std::size_t last_newline = text.rfind('\n');
  if (last_newline == std::string_view::npos) {
    pending_.append(text);
    return;
  }
  pending_.append(text.substr(0, last_newline + 1));
  (void)write_all(fd_, pending_);
  pending_.assign(text.substr(last_newline + 1));
}

void LineBufferedSink::flush() {
  if (pending_.empty()) return;
  (void)write_all(fd_, pending_);
  pending_.clear();
}

void UnbufferedSink::write(std::string_view text) {
  (void)write_all(fd_, text);
}

}  // namespace pendrel
