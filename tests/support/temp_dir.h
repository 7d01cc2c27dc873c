// A temporary directory for one test, removed with everything in it when the test ends.
#pragma once

#include <string>
#include <string_view>

namespace pendrel::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  [[nodiscard]] const std::string& path() const { return path_; }
  // path()/relative
  [[nodiscard]] std::string operator/(std::string_view relative) const;

 private:
  std::string path_;
};

// Writes `content` to `path`, creating missing parent directories.
void write_file(const std::string& path, std::string_view content);
[[nodiscard]] std::string read_file(const std::string& path);

}  // namespace pendrel::testing
