#include "desktop/broker/accounts/account_switch.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "protocol/os_error.h"

namespace pendrel::desktop {
namespace {

std::expected<void, std::string> make_directory(const std::string& path, mode_t mode, uid_t uid,
                                                gid_t gid) {
  if (::mkdir(path.c_str(), mode) != 0 && errno != EEXIST)
    return std::unexpected("cannot create " + path + ": " + os_error_text(errno));
  struct stat status {};
  if (::lstat(path.c_str(), &status) != 0)
    return std::unexpected("cannot inspect " + path + ": " + os_error_text(errno));
  if (!S_ISDIR(status.st_mode)) return std::unexpected(path + " is not a directory");
  if (status.st_uid != uid) {
    if (::geteuid() != 0 || ::chown(path.c_str(), uid, gid) != 0)
      return std::unexpected(path + " belongs to uid " + std::to_string(status.st_uid) +
                             ", not to the broker's account");
  }
  if ((status.st_mode & 07777) != mode && ::chmod(path.c_str(), mode) != 0)
    return std::unexpected("cannot set the mode of " + path + ": " + os_error_text(errno));
  return {};
}

}  // namespace

std::expected<void, std::string> prepare_owned_directory(const std::string& path, mode_t mode) {
  return make_directory(path, mode, ::geteuid(), ::getegid());
}

std::expected<void, std::string> become_broker_account(const BrokerOptions& options) {
  std::string socket_dir = options.socket.substr(0, options.socket.rfind('/'));
  if (socket_dir.empty()) socket_dir = "/";
  std::vector<char> buffer(16 * 1024);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwnam_r(options.account.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
      found == nullptr)
    return std::unexpected("there is no account " + options.account +
                           "; create it (the package does) or name another with --account");
  if (::geteuid() != 0) {
    // Clients check the account's uid: a broker under another one would only be refused.
    if (found->pw_uid != ::geteuid())
      return std::unexpected("only root can run the broker as " + options.account +
                             "; started as another user, name that user with --account");
    if (auto made = prepare_owned_directory(socket_dir, 0755); !made) return made;
    return prepare_owned_directory(options.state_dir, 0700);
  }
  if (found->pw_uid == 0) return std::unexpected("the broker never runs as root");
  uid_t uid = found->pw_uid;
  gid_t gid = found->pw_gid;
  if (auto made = make_directory(socket_dir, 0755, uid, gid); !made) return made;
  if (auto made = make_directory(options.state_dir, 0700, uid, gid); !made) return made;
  if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
    return std::unexpected("cannot become " + options.account + ": " + os_error_text(errno));
  if (::setuid(0) == 0 || ::geteuid() == 0)
    return std::unexpected("root could be regained after the change to " + options.account);
  return {};
}

}  // namespace pendrel::desktop
