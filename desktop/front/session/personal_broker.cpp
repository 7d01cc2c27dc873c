#include "desktop/front/session/personal_broker.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string_view>
#include <thread>
#include <vector>

#include "desktop/shared/link/broker_connection.h"
#include "protocol/os_error.h"

extern char** environ;

namespace pendrel::desktop {
namespace {

using namespace std::chrono_literals;

// The broker starts the person's service before it listens: both within this.
constexpr auto start_wait = 15s;
// The broker's own stop waits up to 10 s for the service and 5 s for its connections.
constexpr auto stop_wait = 20s;

}  // namespace

PersonalBroker::PersonalBroker(std::string data_dir, bool foreground)
    : data_dir_(std::move(data_dir)),
      foreground_(foreground),
      address_(personal_broker(data_dir_)) {}

std::expected<void, std::string> PersonalBroker::ensure_running() {
  std::lock_guard lock(mutex_);
  if (pid_ != 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0) return {};
  pid_ = 0;
  return start_locked();
}

std::expected<void, std::string> PersonalBroker::start_locked() {
  std::vector<std::string> words = {
      "pendrel-desktop", "broker",  "--socket",   address_.socket,
      "--state-dir",     data_dir_, "--personal", std::to_string(::getpid())};
  std::vector<char*> argv;
  for (auto& word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (!std::string_view(*entry).starts_with("PENDREL_BROKER_PERSONAL="))
      entries.emplace_back(*entry);
  }
  entries.push_back(std::string("PENDREL_BROKER_PERSONAL=") +
                    (foreground_ ? "foreground" : "headless"));
  std::vector<char*> envp;
  for (auto& entry : entries)
    envp.push_back(entry.data());
  envp.push_back(nullptr);
  auto deadline = std::chrono::steady_clock::now() + start_wait;
  std::string reason = "it did not start";
  // A broker of an earlier front may still be ending and holding the socket: try again.
  while (std::chrono::steady_clock::now() < deadline) {
    pid_t pid = 0;
    int error = ::posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, argv.data(), envp.data());
    if (error != 0) return std::unexpected("cannot start the broker: " + os_error_text(error));
    for (;;) {
      int status = 0;
      if (::waitpid(pid, &status, WNOHANG) == pid) {
        reason = "it ended at its start (exit " +
                 std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)) +
                 "; its reason is in the log, or on standard error)";
        // Only a socket still there is worth another try: the broker of an earlier front.
        if (::access(address_.socket.c_str(), F_OK) != 0)
          return std::unexpected("cannot start the broker: " + reason);
        break;
      }
      if (connect_to_broker(address_)) {
        pid_ = pid;
        return {};
      }
      if (std::chrono::steady_clock::now() >= deadline) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        reason = "it did not answer on " + address_.socket + " in time";
        break;
      }
      std::this_thread::sleep_for(20ms);
    }
    std::this_thread::sleep_for(100ms);
  }
  return std::unexpected("cannot start the broker: " + reason);
}

void PersonalBroker::stop() {
  std::lock_guard lock(mutex_);
  if (pid_ == 0) return;
  ::kill(pid_, SIGTERM);
  auto deadline = std::chrono::steady_clock::now() + stop_wait;
  while (::waitpid(pid_, nullptr, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
      break;
    }
    std::this_thread::sleep_for(20ms);
  }
  pid_ = 0;
}

}  // namespace pendrel::desktop
