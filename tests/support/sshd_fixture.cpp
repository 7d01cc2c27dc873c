#include "support/sshd_fixture.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "support/sshd_test_user.h"

namespace pendrel::testing {
namespace {

constexpr const char* sshd_program = "/usr/sbin/sshd";
constexpr int start_attempts = 3;
constexpr int start_wait_ms = 10000;

const SshdTestUser& test_user() {
  static const SshdTestUser user = ensure_sshd_test_user();
  return user;
}

std::uint16_t bound_port(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(address.sin_port);
}

int loopback_socket(std::uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    throw std::runtime_error("cannot bind a loopback socket");
  }
  return fd;
}

void generate_key(const std::string& path, const char* type, const std::string& passphrase) {
  std::filesystem::remove(path);
  std::filesystem::remove(path + ".pub");
  run_tool("ssh-keygen", {"-q", "-t", type, "-N", passphrase, "-C", "pendrel-test", "-f", path});
}

std::string first_line(const std::string& text) {
  return text.substr(0, text.find('\n'));
}

// "type base64 comment" without the comment.
std::string key_without_comment(const std::string& public_line) {
  auto first_space = public_line.find(' ');
  auto second_space = public_line.find(' ', first_space + 1);
  return public_line.substr(0, second_space);
}

std::string config_text(SshdVariant variant, const std::string& dir, std::uint16_t port) {
  std::string host_key = variant == SshdVariant::legacy_only ? "host_rsa" : "host_ed25519";
  std::string text = "Port " + std::to_string(port) +
                     "\nListenAddress 127.0.0.1\n"
                     "HostKey " +
                     dir + "/" + host_key +
                     "\nPidFile none\n"
                     "AuthorizedKeysFile " +
                     dir +
                     "/authorized_keys\n"
                     "StrictModes no\n"
                     "UsePAM yes\n"
                     "PasswordAuthentication yes\n"
                     "KbdInteractiveAuthentication yes\n"
                     "PubkeyAuthentication yes\n"
                     "PrintMotd no\n"
                     "MaxStartups 100\n"
                     "MaxSessions 100\n";
  if (variant != SshdVariant::no_sftp) text += "Subsystem sftp internal-sftp\n";
  if (variant == SshdVariant::key_then_password_prompt ||
      variant == SshdVariant::key_then_other_question) {
    text += "AuthenticationMethods publickey,keyboard-interactive\n";
  }
  if (variant == SshdVariant::legacy_only) {
    text +=
        "KexAlgorithms diffie-hellman-group1-sha1\n"
        "HostKeyAlgorithms ssh-rsa\n"
        "Ciphers aes128-cbc\n"
        "MACs hmac-sha1\n";
  }
  return text;
}

// Waits, without polling on a timer, for sshd's "Server listening" line or its death.
bool wait_until_listening(pid_t pid, const std::string& dir, const std::string& log_path) {
  int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  // glibc 2.36 declares pidfd_open without C linkage; call the kernel directly.
  int exited = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (watch < 0 || exited < 0) throw std::runtime_error("inotify or pidfd unavailable");
  ::inotify_add_watch(watch, dir.c_str(), IN_MODIFY | IN_CREATE | IN_CLOSE_WRITE);
  bool listening = false;
  for (;;) {
    if (read_file(log_path).find("Server listening on") != std::string::npos) {
      listening = true;
      break;
    }
    pollfd events[2] = {{watch, POLLIN, 0}, {exited, POLLIN, 0}};
    if (::poll(events, 2, start_wait_ms) <= 0 || (events[1].revents & POLLIN) != 0) break;
    char drained[4096];
    while (::read(watch, drained, sizeof drained) > 0) {
    }
  }
  ::close(watch);
  ::close(exited);
  return listening;
}

bool banner_answers(std::uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool answered = false;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    pollfd readable{fd, POLLIN, 0};
    char banner[8] = {};
    answered = ::poll(&readable, 1, start_wait_ms) == 1 &&
               ::recv(fd, banner, 8, MSG_WAITALL) == 8 && std::string_view(banner, 8) == "SSH-2.0-";
  }
  ::close(fd);
  return answered;
}

}  // namespace

std::optional<std::string> SshdFixture::skip_reason() {
  if (::access(sshd_program, X_OK) != 0) return "OpenSSH's sshd is not installed";
  if (::geteuid() != 0) {
    return std::string("sshd must run as the test user ") + sshd_test_user_name +
           ", which needs root (run the tests as root, as CI does)";
  }
  return std::nullopt;
}

SshdFixture::SshdFixture(SshdVariant variant) : variant_(variant) {
  const SshdTestUser& user = test_user();
  const std::string& dir = dir_.path();
  files_dir_ = dir_ / "files";
  std::filesystem::create_directories(files_dir_);
  generate_key(dir_ / "host_ed25519", "ed25519", "");
  if (variant == SshdVariant::legacy_only) generate_key(dir_ / "host_rsa", "rsa", "");
  generate_key(dir_ / "user_ed25519", "ed25519", "");
  generate_key(dir_ / "user_encrypted", "ed25519", key_passphrase());
  write_file(dir_ / "authorized_keys",
             read_file(dir_ / "user_ed25519.pub") + read_file(dir_ / "user_encrypted.pub"));
  // sshd runs under the PAM service of the name it was started as.
  std::filesystem::create_symlink(sshd_program, dir_ / pam_service());
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
    ::lchown(entry.path().c_str(), user.uid, user.gid);
  }
  ::chown(dir.c_str(), user.uid, user.gid);
  ::chmod(dir.c_str(), 0755);
  start();
}

SshdFixture::~SshdFixture() {
  stop();
}

const char* SshdFixture::pam_service() const {
  return variant_ == SshdVariant::key_then_other_question ? sshd_other_question_service
                                                          : sshd_password_service;
}

const std::string& SshdFixture::user() const {
  return test_user().name;
}
const std::string& SshdFixture::password() const {
  return test_user().password;
}

std::string SshdFixture::host_key_line() const {
  std::string name = variant_ == SshdVariant::legacy_only ? "host_rsa.pub" : "host_ed25519.pub";
  return key_without_comment(first_line(read_file(dir_ / name)));
}

std::string SshdFixture::plain_key() const {
  return read_file(dir_ / "user_ed25519");
}
std::string SshdFixture::encrypted_key() const {
  return read_file(dir_ / "user_encrypted");
}
std::string SshdFixture::make_files_dir(const std::string& relative) const {
  std::string path = files_dir_ + "/" + relative;
  std::filesystem::create_directories(path);
  ::chown(path.c_str(), test_user().uid, test_user().gid);
  return path;
}

std::string SshdFixture::log() const {
  return read_file(dir_ / "sshd.log");
}

void SshdFixture::change_host_key() {
  // A host whose key changed was reinstalled or replaced: its connections are gone too.
  end_sessions();
  stop();
  generate_key(dir_ / "host_ed25519", "ed25519", "");
  ::chown((dir_ / "host_ed25519").c_str(), test_user().uid, test_user().gid);
  start();
}

void SshdFixture::start() {
  const SshdTestUser& user = test_user();
  // A non-root sshd gives a session's pty to the user only if it belongs to the tty group
  // already (it may not chown it): where /dev/pts sets no group, a pty takes the group of the
  // process that opens it, so sshd runs in the tty group, with the user's own as a
  // supplementary one.
  const group* tty = ::getgrnam("tty");
  const gid_t primary_group = tty != nullptr ? tty->gr_gid : user.gid;
  const bool keep_port = port_ != 0;
  for (int attempt = 0; attempt < start_attempts; ++attempt) {
    if (!keep_port) {
      int probe = loopback_socket(0);
      port_ = bound_port(probe);
      ::close(probe);
    }
    const std::string config = dir_ / "sshd_config";
    const std::string log_path = dir_ / "sshd.log";
    write_file(config, config_text(variant_, dir_.path(), port_));
    std::filesystem::remove(log_path);
    const std::string program = dir_ / pam_service();
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
      int null = ::open("/dev/null", O_RDWR);
      ::dup2(null, 0);
      ::dup2(null, 1);
      // sshd logs to its file; PAM's session modules would write to the test's output.
      ::dup2(null, 2);
      if (::setgroups(1, &user.gid) != 0 || ::setgid(primary_group) != 0 ||
          ::setuid(user.uid) != 0) {
        ::_exit(126);
      }
      ::execl(program.c_str(), program.c_str(), "-D", "-E", log_path.c_str(), "-f", config.c_str(),
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    if (wait_until_listening(pid_, dir_.path(), log_path) && banner_answers(port_)) return;
    stop();
  }
  throw std::runtime_error("sshd did not start:\n" + log());
}

void SshdFixture::stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  int status = 0;
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
}

namespace {

// The processes whose parent is `parent`.
std::vector<pid_t> children_of(pid_t parent) {
  std::vector<pid_t> children;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat_file(entry.path() / "stat");
    std::string stat_line;
    std::getline(stat_file, stat_line);
    // "pid (comm) state ppid ...": the command may hold spaces and parentheses.
    auto after_comm = stat_line.rfind(')');
    if (after_comm == std::string::npos) continue;
    std::istringstream fields(stat_line.substr(after_comm + 1));
    std::string state;
    pid_t parent_pid = 0;
    fields >> state >> parent_pid;
    if (parent_pid == parent) children.push_back(static_cast<pid_t>(std::stol(name)));
  }
  return children;
}

}  // namespace

int SshdFixture::session_count() const {
  return static_cast<int>(children_of(pid_).size());
}

void SshdFixture::end_sessions() const {
  for (pid_t child : children_of(pid_))
    ::kill(child, SIGTERM);
}

std::uint16_t closed_port() {
  int fd = loopback_socket(0);
  std::uint16_t port = bound_port(fd);
  ::close(fd);
  return port;
}

SilentListener::SilentListener() : fd_(loopback_socket(0)) {
  port_ = bound_port(fd_);
  ::listen(fd_, 16);
}

SilentListener::~SilentListener() {
  ::close(fd_);
}

}  // namespace pendrel::testing
