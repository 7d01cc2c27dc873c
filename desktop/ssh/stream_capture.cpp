#include "desktop/ssh/stream_capture.h"

#include <algorithm>

#include "protocol/utf8.h"

namespace pendrel::desktop {
namespace {

bool is_continuation(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The length of `text` without a trailing multi-byte character that the cut left incomplete.
std::size_t without_cut_character(std::string_view text) {
  std::size_t end = text.size();
  std::size_t back = 0;
  while (back < 3 && back < end && is_continuation(text[end - 1 - back]))
    ++back;
  if (back == end) return end;
  auto lead = static_cast<unsigned char>(text[end - 1 - back]);
  std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  return length > back + 1 ? end - 1 - back : end;
}

}  // namespace

void StreamCapture::append(std::string_view bytes) {
  total_ += bytes.size();
  if (kept_.size() < limit_) kept_.append(bytes.substr(0, limit_ - kept_.size()));
}

std::string StreamCapture::take_text() {
  if (total_ > limit_) kept_.resize(without_cut_character(kept_));
  std::string text = to_display_text(kept_);
  if (text.size() > limit_) {
    text.resize(without_cut_character(std::string_view(text).substr(0, limit_)));
    text_cut_ = true;
  }
  kept_.clear();
  return text;
}

}  // namespace pendrel::desktop
