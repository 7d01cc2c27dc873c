// A pendrel-desktop command on a pseudo-terminal the test holds both ends of: what the person
// sees, the keys they type, and whether the command left the terminal as it found it.
#pragma once

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <utmp.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "desktop_scene.h"

namespace pendrel::testing {

using namespace std::chrono_literals;

class PtyClient {
 public:
  PtyClient(const std::map<std::string, std::string>& env, std::vector<std::string> args,
            unsigned short columns = 80) {
    winsize size{24, columns, 0, 0};
    if (::openpty(&master_, &peer_, nullptr, nullptr, &size) != 0) return;
    ::tcgetattr(peer_, &original_);
    ExecEnvironment envp(env);
    args.insert(args.begin(), desktop_binary());
    std::vector<char*> argv;
    for (auto& arg : args)
      argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(master_);
      ::login_tty(peer_);
      ::execve(argv[0], argv.data(), envp.data());
      _exit(127);
    }
  }
  ~PtyClient() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    ::close(master_);
    ::close(peer_);
  }
  PtyClient(const PtyClient&) = delete;
  PtyClient& operator=(const PtyClient&) = delete;

  // Reads what the client shows until `text` appears after what earlier waits found.
  bool wait_for(std::string_view text, std::chrono::milliseconds timeout = 30s) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      if (auto at = shown.find(text, seen_); at != std::string::npos) {
        seen_ = at + text.size();
        return true;
      }
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd entry{master_, POLLIN, 0};
      if (::poll(&entry, 1, static_cast<int>(std::min<long long>(left.count(), 200))) <= 0) {
        if (exited()) return shown.find(text, seen_) != std::string::npos;
        continue;
      }
      char buffer[4096];
      ssize_t got = ::read(master_, buffer, sizeof buffer);
      if (got > 0) shown.append(buffer, static_cast<std::size_t>(got));
    }
  }
  void type(std::string_view keys) { (void)!::write(master_, keys.data(), keys.size()); }
  // Runs `line` as the person and waits for `marker`, so that the shell is back at its prompt.
  bool runs(const std::string& line, std::string_view marker) {
    type(line + "\r");
    return wait_for(marker);
  }
  void resize(unsigned short rows, unsigned short columns) {
    winsize size{rows, columns, 0, 0};
    ::ioctl(master_, TIOCSWINSZ, &size);  // the kernel tells the client (SIGWINCH)
  }

  // Ends it as closing its window would (SIGHUP); its exit code.
  int hang_up() {
    if (pid_ > 0) ::kill(pid_, SIGHUP);
    return exit_code();
  }

  // Its exit code once it has ended, reading what it still shows; -1 after the wait.
  int exit_code(std::chrono::milliseconds timeout = 30s) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!exited() && std::chrono::steady_clock::now() < deadline)
      (void)wait_for("\x01never\x01", 200ms);
    (void)wait_for("\x01never\x01", 100ms);
    return status_ && WIFEXITED(*status_) ? WEXITSTATUS(*status_) : -1;
  }
  // Whether the terminal is back in the mode it was given in (echo and lines on).
  [[nodiscard]] bool terminal_restored() const {
    termios now{};
    ::tcgetattr(peer_, &now);
    return now.c_lflag == original_.c_lflag && now.c_iflag == original_.c_iflag &&
           now.c_oflag == original_.c_oflag;
  }

  std::string shown;

 private:
  bool exited() {
    if (status_) return true;
    int status = 0;
    if (pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == pid_) {
      status_ = status;
      pid_ = -1;
    }
    return status_.has_value();
  }

  int master_ = -1;
  int peer_ = -1;
  termios original_{};
  pid_t pid_ = -1;
  std::size_t seen_ = 0;
  std::optional<int> status_;
};

}  // namespace pendrel::testing
