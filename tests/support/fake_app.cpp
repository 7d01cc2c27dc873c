#include "support/fake_app.h"

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace pendrel::testing {

std::string fake_app_binary() {
  const char* path = std::getenv("PENDREL_FAKE_APP");
  if (path == nullptr || *path == '\0') throw std::runtime_error("PENDREL_FAKE_APP is not set");
  return path;
}

std::optional<FakeAppRecord> wait_for_record(const std::string& path,
                                             std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!std::filesystem::exists(path)) {
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  FakeAppRecord record;
  std::ifstream file(path);
  std::string line;
  while (std::getline(file, line)) {
    auto space = line.find(' ');
    std::string key = line.substr(0, space);
    std::string value = space == std::string::npos ? "" : line.substr(space + 1);
    if (key == "pid") record.pid = std::stoi(value);
    if (key == "pgid") record.pgid = std::stoi(value);
    if (key == "arg") record.args.push_back(value);
    if (key == "stdio") record.stdio = value;
    if (key == "open") {
      std::istringstream numbers(value);
      int fd = 0;
      while (numbers >> fd)
        record.open_fds.push_back(fd);
    }
  }
  return record;
}

FakeAppGuard::~FakeAppGuard() {
  auto record = wait_for_record(record_path_, std::chrono::milliseconds(500));
  if (!record || record->pid <= 0) return;
  if (::getpgid(record->pid) != record->pid) return;
  // glibc 2.36 declares pidfd_open without C linkage; call the kernel directly.
  const int exited = static_cast<int>(::syscall(SYS_pidfd_open, record->pid, 0));
  ::kill(record->pid, SIGKILL);
  if (exited < 0) return;
  // The signal only starts the end: until the process has exited, its socket still accepts
  // connections and then closes them unanswered, and the next pendrel of the same test would
  // connect to it instead of starting its own application. The pidfd turns readable once the
  // process has exited, after its descriptors were closed.
  pollfd gone{exited, POLLIN, 0};
  while (::poll(&gone, 1, -1) < 0 && errno == EINTR) {
  }
  ::close(exited);
}

bool process_alive(pid_t pid) {
  return ::kill(pid, 0) == 0;
}

}  // namespace pendrel::testing
