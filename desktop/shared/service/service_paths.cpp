#include "desktop/shared/service/service_paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "protocol/lexical_path.h"
#include "protocol/os_error.h"

namespace pendrel::desktop {
namespace {

// mkdir -p with mode 0700 for every directory it creates; existing ones are left as they are.
std::expected<void, int> make_directories(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0) {
    return S_ISDIR(status.st_mode) ? std::expected<void, int>{} : std::unexpected(ENOTDIR);
  }
  auto slash = path.find_last_of('/', path.size() > 1 ? path.size() - 2 : 0);
  if (slash != std::string::npos && slash > 0) {
    if (auto parent = make_directories(path.substr(0, slash)); !parent) return parent;
  }
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return std::unexpected(errno);
  return {};
}

std::string octal_mode(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

}  // namespace

ServicePaths service_paths(const std::string& data_dir, bool personal_core) {
  ServicePaths paths;
  paths.data_dir = data_dir;
  paths.run_dir = join_path(data_dir, "run");
  paths.logs_dir = join_path(data_dir, "logs");
  paths.socket = join_path(paths.run_dir, core_socket_name(personal_core));
  paths.lock = join_path(paths.run_dir, personal_core ? "core.lock" : "lock");
  paths.marker = join_path(paths.run_dir, personal_core ? "core.unavailable" : "cli.unavailable");
  return paths;
}

std::expected<void, std::string> prepare_logs_directory(const ServicePaths& paths) {
  if (::mkdir(paths.logs_dir.c_str(), 0700) != 0 && errno != EEXIST) {
    return std::unexpected("cannot create " + paths.logs_dir + ": " + os_error_text(errno));
  }
  return {};
}

std::expected<void, std::string> prepare_run_directory(const ServicePaths& paths) {
  if (auto made = make_directories(paths.data_dir); !made) {
    return std::unexpected("cannot create " + paths.data_dir + ": " + os_error_text(made.error()));
  }
  if (::mkdir(paths.run_dir.c_str(), 0700) != 0 && errno != EEXIST) {
    return std::unexpected("cannot create " + paths.run_dir + ": " + os_error_text(errno));
  }
  // lstat: a link to somebody else's directory must not pass as ours.
  struct stat status {};
  if (::lstat(paths.run_dir.c_str(), &status) != 0) {
    return std::unexpected("cannot examine " + paths.run_dir + ": " + os_error_text(errno));
  }
  if (S_ISLNK(status.st_mode)) return std::unexpected(paths.run_dir + " is a symbolic link");
  if (!S_ISDIR(status.st_mode)) return std::unexpected(paths.run_dir + " is not a directory");
  if (status.st_uid != ::geteuid()) {
    return std::unexpected(paths.run_dir + " belongs to another user (uid " +
                           std::to_string(status.st_uid) + ")");
  }
  if ((status.st_mode & 077) != 0) {
    return std::unexpected(paths.run_dir + " is open to other users (mode " +
                           octal_mode(status.st_mode) + ")");
  }
  return {};
}

}  // namespace pendrel::desktop
