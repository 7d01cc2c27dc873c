#include "desktop/front/session/download_target.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "desktop/broker/ssh/sftp_channel.h"
#include "protocol/error_code.h"
#include "protocol/lexical_path.h"

namespace pendrel::desktop {
namespace {

std::string base_name_of(const std::string& path) {
  auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

DownloadTarget::~DownloadTarget() {
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
}

std::expected<void, ErrorBody> DownloadTarget::make(const std::string& local,
                                                    const std::string& remote) {
  std::string target = local;
  struct stat facts {};
  bool is_directory = ::stat(target.c_str(), &facts) == 0 && S_ISDIR(facts.st_mode);
  if (target.ends_with('/') || target.ends_with("/.") || target == "." || is_directory)
    target = join_path(target, base_name_of(remote));
  if (::stat(target.c_str(), &facts) == 0 && S_ISDIR(facts.st_mode))
    return std::unexpected(
        ErrorBody{std::string(info_for(ErrorCode::path_exists).name),
                  target + " is a directory; give a file name or a directory to copy into"});
  auto slash = target.rfind('/');
  std::string temporary =
      target.substr(0, slash + 1) + "." + base_name_of(target) + ".pendrel-XXXXXX";
  UniqueFd fd(::mkostemp(temporary.data(), O_CLOEXEC));
  if (!fd) return std::unexpected(local_failure(errno, "write", target));
  target_ = std::move(target);
  temporary_ = std::move(temporary);
  fd_ = std::move(fd);
  return {};
}

std::expected<void, ErrorBody> DownloadTarget::install(mode_t mode) {
  if (!fd_) return std::unexpected(ErrorBody{"internal", "no download was begun"});
  if (::fchmod(fd_.get(), mode) != 0 || ::fsync(fd_.get()) != 0 ||
      ::rename(temporary_.c_str(), target_.c_str()) != 0)
    return std::unexpected(local_failure(errno, "write", target_));
  temporary_.clear();
  fd_.reset();
  return {};
}

}  // namespace pendrel::desktop
