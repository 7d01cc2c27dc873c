#include "client/upload_source.h"

#include <sys/stat.h>

#include <cerrno>

#include "i18n/catalogue.h"
#include "protocol/os_error.h"

namespace pendrel {

std::optional<CliFailure> examine_upload_source(const std::string& local, Language language) {
  // Local file failures are the user's to fix, so they end like usage errors.
  constexpr std::uint8_t local_file_exit_code = 1;
  struct stat status {};
  if (::stat(local.c_str(), &status) != 0) {
    int error = errno;
    if (error == ENOENT) return CliFailure{"path_not_found", local, local_file_exit_code};
    if (error == EACCES) return CliFailure{"permission_denied", local, local_file_exit_code};
    return usage_failure(os_error_text(error));
  }
  if (S_ISDIR(status.st_mode)) {
    return usage_failure(format_message(messages::is_directory, language, local));
  }
  if (!S_ISREG(status.st_mode)) {
    return usage_failure(format_message(messages::not_regular_file, language, local));
  }
  return std::nullopt;
}

}  // namespace pendrel
