// A broker of the test's own (`pendrel-desktop broker` with its own socket and state), and the
// environment that sends the person's commands and the front to it. As root it runs as an
// account of its own, created once per machine; otherwise as the test's user.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>

namespace pendrel::testing {

inline constexpr const char* broker_test_account = "pendrel-broker-test";

class TestBroker {
 public:
  // Starts the broker with its socket and state under `dir` (which the broker's account must
  // be able to enter) and `extra` added to `env`, and waits for its socket.
  TestBroker(const std::string& dir, std::map<std::string, std::string> env,
             const std::map<std::string, std::string>& extra = {});
  ~TestBroker();  // SIGTERM, and waits for it
  TestBroker(const TestBroker&) = delete;
  TestBroker& operator=(const TestBroker&) = delete;

  [[nodiscard]] bool ready() const { return ready_; }
  [[nodiscard]] const std::string& socket() const { return socket_; }
  [[nodiscard]] const std::string& account() const { return account_; }
  // <state>/<uid>: what the broker keeps for the person of `uid`.
  [[nodiscard]] std::string state_of(uid_t uid) const;
  [[nodiscard]] const std::string& state() const { return state_; }
  // `env` with PENDREL_BROKER_SOCKET and PENDREL_BROKER_ACCOUNT set to this broker, and
  // PENDREL_APP empty, so that pendrel never starts a front of its own.
  [[nodiscard]] std::map<std::string, std::string> pointed_at(
      std::map<std::string, std::string> env) const;

 private:
  std::string socket_;
  std::string state_;
  std::string account_;
  pid_t pid_ = -1;
  bool ready_ = false;
};

// The account a test broker runs as; created (root only) when missing.
[[nodiscard]] std::string test_broker_account();

}  // namespace pendrel::testing
