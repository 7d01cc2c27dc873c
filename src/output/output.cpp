#include "output/output.h"

#include "protocol/fd_io.h"

namespace pendrel {

void LineBufferedSink::write(std::string_view text) {
  std::size_t last_newline = text.rfind('\n');
  if (last_newline == std::string_view::npos) {
    pending_.append(text);
    return;
  }
  if (pending_.empty()) {
    // Nothing to join it with: the complete lines go out from where they lie, uncopied.
    (void)write_all(fd_, text.substr(0, last_newline + 1));
  } else {
    pending_.append(text.substr(0, last_newline + 1));
    (void)write_all(fd_, pending_);
  }
  pending_.assign(text.substr(last_newline + 1));
}

void LineBufferedSink::write_through(std::string_view text) {
  flush();
  (void)write_all(fd_, text);
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
