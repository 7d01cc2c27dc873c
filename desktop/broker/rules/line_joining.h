// Joins lines continued with a trailing backslash, as the shell reads them, keeping the offsets.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace pendrel::desktop {

// A script with every backslash-newline (and backslash-CR-LF) removed.
class JoinedScript {
 public:
  // `script` must outlive the object when it has nothing to join (the text is then a view).
  explicit JoinedScript(std::string_view script);
  JoinedScript(const JoinedScript&) = delete;
  JoinedScript& operator=(const JoinedScript&) = delete;

  [[nodiscard]] std::string_view text() const {
    return joined_ ? std::string_view(storage_) : original_;
  }
  // Where a removed line break was: the first character of each continuation line (sorted).
  [[nodiscard]] const std::vector<std::size_t>& continuation_starts() const { return starts_; }
  // The offset in the original script of offset `pos` in text().
  [[nodiscard]] std::size_t original_offset(std::size_t pos) const;

 private:
  std::string_view original_;
  std::string storage_;
  bool joined_ = false;
  std::vector<std::size_t> starts_;
  std::vector<std::size_t> removed_through_;  // bytes removed up to and including each start
};

}  // namespace pendrel::desktop
