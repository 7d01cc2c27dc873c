#include "support/desktop_service.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "support/run_pendrel.h"
#include "support/temp_dir.h"

namespace pendrel::testing {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

bool can_connect(const std::string& path) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    ::close(fd);
    return false;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size());
  bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return connected;
}

// True for a process that exists and has not yet died (a zombie counts as gone).
bool running(pid_t pid) {
  if (pid <= 0 || ::kill(pid, 0) != 0) return false;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  auto close = text.rfind(')');
  return close == std::string::npos || text.size() < close + 3 || text[close + 2] != 'Z';
}

// A process that has exited and waits for its parent to collect it.
bool unreaped(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  auto close = text.rfind(')');
  return close != std::string::npos && text.size() > close + 2 && text[close + 2] == 'Z';
}

// The parent pid in /proc/N/stat, or -1.
pid_t parent_of(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  auto close = text.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream rest(text.substr(close + 1));
  std::string state;
  pid_t parent = -1;
  rest >> state >> parent;
  return rest ? parent : -1;
}

// Every process descended from `root`, by the parent pids in /proc.
std::vector<pid_t> descendants_of(pid_t root) {
  std::map<pid_t, std::vector<pid_t>> children;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    pid_t pid = std::stoi(name);
    children[parent_of(pid)].push_back(pid);
  }
  std::vector<pid_t> found;
  std::vector<pid_t> pending{root};
  while (!pending.empty()) {
    pid_t next = pending.back();
    pending.pop_back();
    for (pid_t child : children[next]) {
      found.push_back(child);
      pending.push_back(child);
    }
  }
  return found;
}

// Fails the test for each of `children` still running once the service is gone, and ends it.
void expect_gone_with_the_service(const std::vector<pid_t>& children) {
  for (pid_t child : children) {
    if (wait_until_gone(child, 5s)) continue;
    ADD_FAILURE() << "process " << child << " started by the service outlived it";
    ::kill(child, SIGKILL);
  }
}

}  // namespace

std::string desktop_binary() {
  const char* path = std::getenv("PENDREL_DESKTOP_BIN");
  if (path == nullptr || *path == '\0') throw std::runtime_error("PENDREL_DESKTOP_BIN is not set");
  return path;
}

void write_hosts(const std::string& data_dir, std::string_view hosts_array) {
  write_file(data_dir + "/hosts.json", R"({"version":1,"hosts":)" + std::string(hosts_array) + "}");
}

std::string local_host(std::string_view id, std::string_view name, bool cli, std::string_view tag) {
  std::string tags = tag.empty() ? "[]" : "[\"" + std::string(tag) + "\"]";
  return R"({"id":")" + std::string(id) + R"(","name":")" + std::string(name) +
         R"(","address":"localhost","port":22,"username":"tester","protocol":"LOCAL","tags":)" +
         tags + R"(,"cli":)" + (cli ? "true" : "false") + "}";
}

pid_t listener_pid(const std::string& path) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return -1;
  std::memcpy(address.sun_path, path.c_str(), path.size());
  pid_t pid = -1;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    ucred peer{};
    socklen_t length = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0) pid = peer.pid;
  }
  ::close(fd);
  return pid;
}

bool wait_for_socket(const std::string& data_dir, std::chrono::milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  while (!can_connect(data_dir + "/run/cli.sock")) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

bool wait_until_gone(pid_t pid, std::chrono::milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  while (running(pid)) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

DesktopService::DesktopService(std::map<std::string, std::string> env, std::string data_dir,
                               bool wait)
    : data_dir_(std::move(data_dir)) {
  std::string program = desktop_binary();
  ExecEnvironment envp(env);
  std::string serve = "serve";
  char* argv[] = {program.data(), serve.data(), nullptr};
  std::string err_path = stderr_path();

  pid_ = ::fork();
  if (pid_ == 0) {
    int null = ::open("/dev/null", O_RDWR);
    int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::dup2(err >= 0 ? err : null, 2);
    ::close_range(3, ~0u, 0);
    ::execve(program.c_str(), argv, envp.data());
    ::_exit(127);
  }
  if (wait && pid_ > 0) ready_ = wait_for_socket(data_dir_);
}

DesktopService::~DesktopService() {
  stop();
}

std::string DesktopService::stderr_text() const {
  std::ifstream file(stderr_path());
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

int DesktopService::wait_for_exit(std::chrono::milliseconds timeout) {
  if (pid_ <= 0) return exit_code_;
  auto deadline = Clock::now() + timeout;
  while (true) {
    int status = 0;
    pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      pid_ = -1;
      return exit_code_;
    }
    if (done < 0 || Clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(10ms);
  }
}

int DesktopService::stop() {
  if (pid_ <= 0) return exit_code_;
  // The commands the service started are reaped while it runs and end with it at the latest.
  // A loaded machine may take its time to run the reaping thread: the wait ends as soon as
  // the child is reaped, and only a generous deadline calls it a fault.
  std::vector<pid_t> children = descendants_of(pid_);
  for (pid_t child : children) {
    auto deadline = Clock::now() + 10s;
    while (unreaped(child) && Clock::now() < deadline)
      std::this_thread::sleep_for(20ms);
    if (unreaped(child)) ADD_FAILURE() << "the service left process " << child << " unreaped";
  }
  ::kill(pid_, SIGTERM);
  if (wait_for_exit(10s) < 0 && pid_ > 0) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    exit_code_ = -1;
  }
  expect_gone_with_the_service(children);
  return exit_code_;
}

pid_t HeadlessServiceGuard::pid_holding(const std::string& data_dir) {
  std::string lock_path = data_dir + "/run/lock";
  int fd = ::open(lock_path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  // A lock we can take is held by nobody: whatever pid the file names is gone.
  bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0;
  ::close(fd);
  if (!held) return -1;
  std::ifstream file(lock_path);
  pid_t pid = -1;
  file >> pid;
  return file ? pid : -1;
}

HeadlessServiceGuard::~HeadlessServiceGuard() {
  pid_t service = pid();
  if (service <= 0) return;
  std::vector<pid_t> children = descendants_of(service);
  ::kill(service, SIGTERM);
  if (!wait_until_gone(service, 10s)) ::kill(service, SIGKILL);
  expect_gone_with_the_service(children);
}

}  // namespace pendrel::testing
