#include "support/test_broker.h"

#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "support/desktop_service.h"
#include "support/run_pendrel.h"
#include "support/second_person.h"

namespace pendrel::testing {
namespace {

using namespace std::chrono_literals;

bool connectable(const std::string& path) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un name{};
  name.sun_family = AF_UNIX;
  std::strncpy(name.sun_path, path.c_str(), sizeof name.sun_path - 1);
  bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&name), sizeof name) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

std::string test_broker_account() {
  if (::geteuid() != 0) {
    const passwd* entry = ::getpwuid(::getuid());
    return entry ? entry->pw_name : "";
  }
  ensure_account(broker_test_account, "/usr/sbin/nologin");
  return broker_test_account;
}

TestBroker::TestBroker(const std::string& dir, std::map<std::string, std::string> env,
                       const std::map<std::string, std::string>& extra)
    : socket_(dir + "/broker/broker.sock"),
      state_(dir + "/state"),
      account_(test_broker_account()) {
  // The broker's account must reach its socket and state through `dir`.
  ::chmod(dir.c_str(), 0711);
  for (const auto& [name, value] : extra)
    env[name] = value;
  pid_ = spawn_detached(
      desktop_binary(),
      {"broker", "--socket", socket_, "--state-dir", state_, "--account", account_}, env);
  auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!(ready_ = connectable(socket_)) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(20ms);
}

TestBroker::~TestBroker() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  if (!wait_until_gone(pid_, std::chrono::seconds(20))) ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
}

std::string TestBroker::state_of(uid_t uid) const {
  return state_ + "/" + std::to_string(uid);
}

std::map<std::string, std::string> TestBroker::pointed_at(
    std::map<std::string, std::string> env) const {
  env["PENDREL_BROKER_SOCKET"] = socket_;
  env["PENDREL_BROKER_ACCOUNT"] = account_;
  // The scene runs its own front: a pendrel still waiting when the scene ends must not start a
  // second one that nobody stops.
  env["PENDREL_APP"] = "";
  return env;
}

}  // namespace pendrel::testing
