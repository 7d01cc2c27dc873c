#include "desktop/broker/accounts/user_cores.h"

#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "desktop/broker/accounts/account_switch.h"
#include "desktop/broker/accounts/child_environment.h"
#include "desktop/shared/service/service_paths.h"
#include "protocol/os_error.h"

namespace pendrel::desktop {
namespace {

using namespace std::chrono_literals;

constexpr auto core_start_wait = 10s;
constexpr auto core_stop_wait = 10s;

}  // namespace

std::expected<UniqueFd, int> connect_unix(const std::string& path) {
  sockaddr_un name{};
  name.sun_family = AF_UNIX;
  if (path.size() >= sizeof name.sun_path) return std::unexpected(ENAMETOOLONG);
  std::memcpy(name.sun_path, path.c_str(), path.size() + 1);
  UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!socket) return std::unexpected(errno);
  if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&name), sizeof name) != 0)
    return std::unexpected(errno);
  return socket;
}

void UserCores::stop_all() {
  std::lock_guard lock(mutex_);
  for (auto& [uid, pid] : running_)
    ::kill(pid, SIGTERM);
  auto deadline = std::chrono::steady_clock::now() + core_stop_wait;
  for (auto& [uid, pid] : running_) {
    while (::waitpid(pid, nullptr, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() >= deadline) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        break;
      }
      std::this_thread::sleep_for(20ms);
    }
  }
  running_.clear();
}

std::expected<std::string, std::string> UserCores::state_of(uid_t uid) {
  if (personal_uid_) {
    if (uid != *personal_uid_)
      return std::unexpected("this broker is uid " + std::to_string(*personal_uid_) +
                             "'s own; it serves nobody else");
    return state_dir_;
  }
  std::string state = state_dir_ + "/" + std::to_string(uid);
  if (auto made = prepare_owned_directory(state, 0700); !made) return std::unexpected(made.error());
  return state;
}

void UserCores::reap_locked() {
  for (auto it = running_.begin(); it != running_.end();) {
    if (::waitpid(it->second, nullptr, WNOHANG) != 0) {
      it = running_.erase(it);
    } else {
      ++it;
    }
  }
}

std::expected<void, std::string> UserCores::start(uid_t uid, const std::string& state) {
  ChildEnvironment environment = child_environment(state, refusal_, personal());
  auto envp = environment.pointers();
  std::string name = "pendrel-desktop";
  std::string mode = "broker-core";
  char* argv[] = {name.data(), mode.data(), nullptr};
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // Its own session: a signal meant for the broker's terminal is not the core's.
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  pid_t pid = 0;
  int error = ::posix_spawn(&pid, executable_.c_str(), nullptr, &attributes, argv, envp.data());
  posix_spawnattr_destroy(&attributes);
  if (error != 0) return std::unexpected("cannot start a service: " + os_error_text(error));
  running_[uid] = pid;
  return {};
}

std::expected<UniqueFd, std::string> UserCores::connect_admin(uid_t uid) {
  // The core opens its admin socket before the one connect waits for.
  if (auto running = connect(uid); !running) return std::unexpected(running.error());
  auto state = state_of(uid);
  if (!state) return std::unexpected(state.error());
  std::string path = *state + "/run/admin.sock";
  auto socket = connect_unix(path);
  if (!socket)
    return std::unexpected("cannot reach " + path + ": " + os_error_text(socket.error()));
  return std::move(*socket);
}

std::expected<UniqueFd, std::string> UserCores::connect(uid_t uid) {
  auto state = state_of(uid);
  if (!state) return std::unexpected(state.error());
  std::string path = *state + "/run/" + core_socket_name(personal());
  std::lock_guard lock(mutex_);
  if (auto socket = connect_unix(path)) return std::move(*socket);
  reap_locked();
  if (!running_.contains(uid)) {
    if (auto started = start(uid, *state); !started) return std::unexpected(started.error());
  }
  auto deadline = std::chrono::steady_clock::now() + core_start_wait;
  for (;;) {
    auto socket = connect_unix(path);
    if (socket) return std::move(*socket);
    // A path too long will never do; the service says so in its log and waits to be stopped.
    if (socket.error() == ENAMETOOLONG)
      return std::unexpected("the service for uid " + std::to_string(uid) + " cannot open " + path +
                             "; its log is in " + *state + "/logs");
    int status = 0;
    if (auto it = running_.find(uid);
        it != running_.end() && ::waitpid(it->second, &status, WNOHANG) != 0) {
      running_.erase(it);
      // Exit 0 at its start: a core of an earlier broker still held the state, and is going.
      if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::unexpected("the service for uid " + std::to_string(uid) +
                               " ended at its start; its log is in " + *state + "/logs");
      std::this_thread::sleep_for(100ms);
      if (auto started = start(uid, *state); !started) return std::unexpected(started.error());
      continue;
    }
    if (std::chrono::steady_clock::now() >= deadline)
      return std::unexpected("the service for uid " + std::to_string(uid) + " did not open " +
                             path + ": " + os_error_text(socket.error()));
    std::this_thread::sleep_for(20ms);
  }
}

}  // namespace pendrel::desktop
