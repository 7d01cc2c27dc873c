#include "desktop/broker/rules/line_joining.h"

#include <algorithm>

namespace pendrel::desktop {

JoinedScript::JoinedScript(std::string_view script) : original_(script) {
  std::size_t found = script.find("\\\n");
  std::size_t found_crlf = script.find("\\\r\n");
  if (found == std::string_view::npos && found_crlf == std::string_view::npos) return;
  joined_ = true;
  storage_.reserve(script.size());
  std::size_t removed = 0;
  for (std::size_t pos = 0; pos < script.size();) {
    std::size_t length = 0;
    if (script.substr(pos, 2) == "\\\\") {
      storage_ += "\\\\";  // an escaped backslash does not continue the line
      pos += 2;
      continue;
    }
    if (script[pos] == '\\') {
      if (script.substr(pos, 2) == "\\\n")
        length = 2;
      else if (script.substr(pos, 3) == "\\\r\n")
        length = 3;
    }
    if (length == 0) {
      storage_ += script[pos++];
      continue;
    }
    pos += length;
    removed += length;
    if (!starts_.empty() && starts_.back() == storage_.size()) {
      removed_through_.back() = removed;  // several joins in a row end on one position
    } else {
      starts_.push_back(storage_.size());
      removed_through_.push_back(removed);
    }
  }
}

std::size_t JoinedScript::original_offset(std::size_t pos) const {
  auto after = std::upper_bound(starts_.begin(), starts_.end(), pos);
  if (after == starts_.begin()) return pos;
  return pos + removed_through_[static_cast<std::size_t>(after - starts_.begin()) - 1];
}

}  // namespace pendrel::desktop
