#include "desktop/shared/service/app_lock_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "desktop/shared/store/atomic_file.h"
#include "protocol/lexical_path.h"
#include "protocol/os_error.h"

namespace pendrel::desktop {
namespace {

std::string record_path(const std::string& data_dir) {
  return join_path(data_dir, app_lock_file_name);
}

}  // namespace

bool app_lock_recorded(const std::string& data_dir) {
  struct stat info {};
  // A path that cannot be examined for another reason than absence counts as locked too.
  return ::lstat(record_path(data_dir).c_str(), &info) == 0 || errno != ENOENT;
}

std::expected<void, std::string> record_app_lock(const std::string& data_dir) {
  if (auto written = write_file_atomically(
          record_path(data_dir),
          "pendrel-desktop lock --all: every request is refused until pendrel-desktop unlock\n");
      !written)
    return std::unexpected(written.error().text());
  return {};
}

std::expected<void, std::string> clear_app_lock(const std::string& data_dir) {
  std::string path = record_path(data_dir);
  if (::unlink(path.c_str()) != 0 && errno != ENOENT)
    return std::unexpected("cannot remove " + path + ": " + os_error_text(errno));
  return {};
}

}  // namespace pendrel::desktop
