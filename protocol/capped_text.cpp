#include "protocol/capped_text.h"

#include <algorithm>

#include "protocol/utf8.h"

namespace pendrel {
namespace {

// A UTF-8 sequence is at most 4 bytes: with that many bytes past the bound, the character
// that crosses the bound is complete in what is kept, and a sequence left incomplete at the
// very end lies wholly beyond the bound (a replacement never makes text shorter than its bytes).
constexpr std::size_t lookahead_bytes = 4;

}  // namespace

void OutputCapture::append(std::string_view bytes) {
  std::size_t room = max_bytes_ + lookahead_bytes - kept_.size();
  if (bytes.size() > room) dropped_ = true;
  kept_.append(bytes.substr(0, std::min(room, bytes.size())));
}

CappedText OutputCapture::finish() const {
  CappedText capped{to_display_text(kept_), dropped_};
  if (capped.text.size() > max_bytes_) {
    std::size_t cut = max_bytes_;
    // Back up over continuation bytes to the start of the character that crosses the bound.
    while (cut > 0 && (static_cast<unsigned char>(capped.text[cut]) & 0xC0) == 0x80)
      --cut;
    capped.text.resize(cut);
    capped.truncated = true;
  }
  return capped;
}

}  // namespace pendrel
