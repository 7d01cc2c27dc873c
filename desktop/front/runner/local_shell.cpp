#include "desktop/front/runner/local_shell.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "protocol/os_error.h"
#include "protocol/unique_fd.h"

namespace pendrel::desktop {
namespace {

struct Account {
  std::string name;
  std::string home;
  std::string shell;
};

Account current_account() {
  Account account{"", "/", "/bin/sh"};
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
      found != nullptr) {
    account.name = entry.pw_name;
    if (entry.pw_dir != nullptr && *entry.pw_dir != '\0') account.home = entry.pw_dir;
    if (entry.pw_shell != nullptr && *entry.pw_shell != '\0') account.shell = entry.pw_shell;
  }
  return account;
}

winsize winsize_of(WindowSize size) {
  winsize value{};
  value.ws_row = size.rows;
  value.ws_col = size.columns;
  return value;
}

int exit_status_of(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return 1;
}

class LocalShell final : public TerminalBackend {
 public:
  LocalShell(UniqueFd master, pid_t pid, UniqueFd exited)
      : master_(std::move(master)), pid_(pid), exited_(std::move(exited)) {}
  ~LocalShell() override {
    if (!reaped_) {
      ::kill(-pid_, SIGKILL);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
  }

  int descriptor() const override { return master_.get(); }
  int ended_descriptor() const override { return exited_.get(); }

  void resize(WindowSize size) override {
    winsize value = winsize_of(size);
    ::ioctl(master_.get(), TIOCSWINSZ, &value);
    // Also when the size did not change: an attach asks the program to redraw this way.
    pid_t foreground = ::tcgetpgrp(master_.get());
    if (foreground > 0) ::kill(-foreground, SIGWINCH);
  }

  std::optional<bool> shell_in_foreground() const override {
    return ::tcgetpgrp(master_.get()) == pid_;
  }

  ShellEnding ending() override {
    if (!reaped_) {
      int status = 0;
      pid_t done = ::waitpid(pid_, &status, WNOHANG);
      for (int tries = 0; done == 0 && tries < 20; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        done = ::waitpid(pid_, &status, WNOHANG);
      }
      if (done == 0) {
        ::kill(-pid_, SIGKILL);
        ::kill(pid_, SIGKILL);
        done = ::waitpid(pid_, &status, 0);
      }
      reaped_ = true;
      if (done == pid_) status_ = exit_status_of(status);
    }
    // A background job may still hold the pty: it is the session's, and ends with it.
    ::kill(-pid_, SIGHUP);
    ShellEnding ending;
    ending.exit_status = status_;
    if (!status_) ending.reason = "the shell could not be waited for";
    return ending;
  }

  void hang_up() override {
    if (reaped_) return;
    ::kill(-pid_, SIGHUP);
    ::kill(-pid_, SIGCONT);
  }

 private:
  UniqueFd master_;
  pid_t pid_;
  UniqueFd exited_;
  bool reaped_ = false;
  std::optional<int> status_;
};

ErrorBody failure(std::string what) {
  return ErrorBody{"internal", std::move(what)};
}

}  // namespace

std::expected<std::unique_ptr<TerminalBackend>, ErrorBody> open_local_shell(
    WindowSize size, const std::string& term, const std::string& language) {
  Account account = current_account();
  UniqueFd master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!master) return std::unexpected(failure("cannot open a pty: " + os_error_text(errno)));
  if (::grantpt(master.get()) != 0 || ::unlockpt(master.get()) != 0)
    return std::unexpected(failure("cannot unlock the pty: " + os_error_text(errno)));
  winsize value = winsize_of(size);
  ::ioctl(master.get(), TIOCSWINSZ, &value);
  // The peer is opened through the master, never by a name under /dev/pts.
  UniqueFd peer(::ioctl(master.get(), TIOCGPTPEER, O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!peer) return std::unexpected(failure("cannot open the pty's peer: " + os_error_text(errno)));

  // Everything the child needs is made before the fork: a threaded process may not allocate
  // in its child.
  std::string shell_name = account.shell.substr(account.shell.rfind('/') + 1);
  std::string login_name = "-" + shell_name;
  std::vector<std::string> environment = {
      "TERM=" + (term.empty() ? std::string("xterm-256color") : term),
      "HOME=" + account.home,
      "SHELL=" + account.shell,
      "USER=" + account.name,
      "LOGNAME=" + account.name,
      "PATH=/usr/local/bin:/usr/bin:/bin",
  };
  if (!language.empty()) environment.push_back("LANG=" + language);
  std::vector<char*> envp;
  for (auto& entry : environment)
    envp.push_back(entry.data());
  envp.push_back(nullptr);
  char* argv[] = {login_name.data(), nullptr};
  const char* home = account.home.c_str();
  const char* shell = account.shell.c_str();
  const int peer_fd = peer.get();

  pid_t pid = ::fork();
  if (pid < 0) return std::unexpected(failure("cannot start the shell: " + os_error_text(errno)));
  if (pid == 0) {
    ::setsid();
    ::ioctl(peer_fd, TIOCSCTTY, 0);
    for (int standard = 0; standard < 3; ++standard)
      ::dup2(peer_fd, standard);
    ::syscall(SYS_close_range, 3U, ~0U, 0U);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int signal = 1; signal < NSIG; ++signal)
      ::signal(signal, SIG_DFL);
    if (::chdir(home) != 0) (void)::chdir("/");
    ::execve(shell, argv, envp.data());
    ::_exit(127);
  }
  peer.reset();
  int flags = ::fcntl(master.get(), F_GETFL);
  ::fcntl(master.get(), F_SETFL, flags | O_NONBLOCK);
  UniqueFd exited(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
  return std::make_unique<LocalShell>(std::move(master), pid, std::move(exited));
}

}  // namespace pendrel::desktop
