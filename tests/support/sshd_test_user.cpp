#include "support/sshd_test_user.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "support/temp_dir.h"

namespace pendrel::testing {
namespace {

constexpr const char* state_dir = "/var/lib/pendrel-ssh-test";
constexpr const char* password_file = "/var/lib/pendrel-ssh-test/password";
constexpr const char* lock_file = "/var/lib/pendrel-ssh-test/lock";

// nodelay: a refused password answers at once instead of after PAM's failure delay.
constexpr std::string_view password_pam =
    "# pendrel's SSH tests: password and keyboard-interactive check the Unix password.\n"
    "auth     required pam_unix.so nodelay\n"
    "account  required pam_unix.so\n"
    "session  required pam_permit.so\n";

// pam_ftp treats the listed user as an anonymous FTP login and asks for an e-mail address:
// a keyboard-interactive question that is not a password prompt, from Debian's own modules.
// pam_permit answers the credential step, which pam_ftp leaves unanswered: without it sshd
// accepts the answer, then ends the connection before a session opens.
constexpr std::string_view other_question_pam =
    "# pendrel's SSH tests: keyboard-interactive asks something that is not a password.\n"
    "auth     required pam_ftp.so users=pendrel-ssh-test\n"
    "auth     optional pam_permit.so\n"
    "account  required pam_permit.so\n"
    "session  required pam_permit.so\n";

std::string random_password() {
  std::ifstream random("/dev/urandom", std::ios::binary);
  constexpr std::string_view alphabet = "abcdefghijkmnopqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789";
  std::string password;
  for (int i = 0; i < 24; ++i) {
    unsigned char byte = 0;
    random.read(reinterpret_cast<char*>(&byte), 1);
    password += alphabet[byte % alphabet.size()];
  }
  return password;
}

void write_if_different(const std::string& path, std::string_view content, mode_t mode) {
  if (read_file(path) == content) return;
  write_file(path, content);
  ::chmod(path.c_str(), mode);
}

}  // namespace

void run_tool(const std::string& program, const std::vector<std::string>& args,
              const std::string& stdin_text) {
  int input[2];
  if (::pipe2(input, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  pid_t child = ::fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    ::dup2(input[0], 0);
    int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& arg : args)
      argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execvp(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(input[0]);
  if (!stdin_text.empty()) {
    [[maybe_unused]] auto ignored = ::write(input[1], stdin_text.data(), stdin_text.size());
  }
  ::close(input[1]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error(program + " failed");
  }
}

SshdTestUser ensure_sshd_test_user() {
  std::filesystem::create_directories(state_dir);
  ::chmod(state_dir, 0700);
  int lock = ::open(lock_file, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lock < 0 || ::flock(lock, LOCK_EX) != 0)
    throw std::runtime_error("cannot lock the test user");
  struct Unlock {
    int fd;
    ~Unlock() { ::close(fd); }
  } unlock{lock};

  if (::getpwnam(sshd_test_user_name) == nullptr) {
    run_tool("useradd", {"--create-home", "--shell", "/bin/sh", sshd_test_user_name});
  }
  std::string password = read_file(password_file);
  if (password.empty()) {
    password = random_password();
    run_tool("chpasswd", {}, std::string(sshd_test_user_name) + ":" + password + "\n");
    write_file(password_file, password);
    ::chmod(password_file, 0600);
  }
  write_if_different(std::string("/etc/pam.d/") + sshd_password_service, password_pam, 0644);
  write_if_different(std::string("/etc/pam.d/") + sshd_other_question_service, other_question_pam,
                     0644);
  const passwd* entry = ::getpwnam(sshd_test_user_name);
  if (entry == nullptr) throw std::runtime_error("the test user is missing after useradd");
  return SshdTestUser{sshd_test_user_name, password, entry->pw_uid, entry->pw_gid};
}

}  // namespace pendrel::testing
