#include "desktop/shared/terminal/output_ring.h"

namespace pendrel::desktop {

void OutputRing::append(std::string_view bytes) {
  if (capacity_ == 0) return;
  if (bytes.size() >= capacity_) {
    buffer_.assign(bytes.substr(bytes.size() - capacity_));
    next_ = 0;
    return;
  }
  if (buffer_.size() < capacity_) {
    std::size_t room = capacity_ - buffer_.size();
    std::size_t taken = std::min(room, bytes.size());
    buffer_.append(bytes.substr(0, taken));
    bytes.remove_prefix(taken);
    next_ = 0;
  }
  while (!bytes.empty()) {
    std::size_t taken = std::min(capacity_ - next_, bytes.size());
    buffer_.replace(next_, taken, bytes.substr(0, taken));
    next_ = (next_ + taken) % capacity_;
    bytes.remove_prefix(taken);
  }
}

std::string OutputRing::contents() const {
  if (buffer_.size() < capacity_) return buffer_;
  return buffer_.substr(next_) + buffer_.substr(0, next_);
}

}  // namespace pendrel::desktop
