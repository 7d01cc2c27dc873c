// `pendrel-desktop hostkey` against a real sshd, through a broker of the test's own: a key
// trusted by fingerprint or by a yes on the person's terminal lands in the vault, and every refusal
// (a different key, a no, no master password, no terminal to confirm on, a LOCAL host, a server
// that is not there) leaves the vault as it was.
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <optional>

#include <string>
#include <vector>

#include "desktop/broker/ssh/host_key_check.h"
#include "desktop_scene.h"
#include "support/sshd_fixture.h"
#include "support/test_broker.h"

namespace pendrel::testing {
namespace {

constexpr std::string_view master = "hostkey-master-31";
// Well formed, and no server's key.
const std::string stranger = "SHA256:" + std::string(43, 'A');

class HostKey : public ::testing::Test {
 protected:
  void SetUp() override {
    if (desktop_binary().empty()) GTEST_SKIP() << "PENDREL_DESKTOP_BIN is not set";
    if (auto reason = SshdFixture::skip_reason()) GTEST_SKIP() << *reason;
    scene.env["PENDREL_DESKTOP_TEST_KDF"] = "interactive";
    // The keys are the broker's, and so is the connection that fetches one.
    broker.emplace(scene.home.path(), scene.env);
    ASSERT_TRUE(broker->ready()) << "the test's broker did not start";
    scene.env = broker->pointed_at(scene.env);
    scene.state_dir = broker->state_of(::getuid());
    RunResult made = admin({"init"});
    ASSERT_EQ(made.exit_code, 0) << made.err;
  }

  // pendrel-desktop with the master password on its standard input when `with_password`, in
  // a session of its own: no terminal, whoever runs the tests, to ask a person on.
  RunResult admin(std::vector<std::string> args, bool with_password = true) {
    if (with_password) args.insert(args.end(), {"--password-fd", "0"});
    args.insert(args.begin(), {"--wait", desktop_binary()});
    return run_pendrel({.args = std::move(args),
                        .env = scene.env,
                        .stdin_data = with_password ? std::string(master) + "\n" : "",
                        .program = "/usr/bin/setsid"});
  }
  void add_host(const std::string& name, std::vector<std::string> where) {
    std::vector<std::string> args{"host", "add", name};
    args.insert(args.end(), where.begin(), where.end());
    RunResult added = admin(args);
    ASSERT_EQ(added.exit_code, 0) << added.err;
  }
  // What `hostkey list NAME --json` says is accepted and rejected.
  std::string known(const std::string& name) {
    RunResult listed = admin({"hostkey", "list", name, "--json"});
    EXPECT_EQ(listed.exit_code, 0) << listed.err;
    auto at = listed.out.find(R"("accepted":)");
    return at == std::string::npos ? listed.out : listed.out.substr(at, listed.out.rfind('}') - at);
  }
  std::string vault_bytes() const { return read_file(scene.store_dir() + "/vault.bin"); }

  // pendrel-desktop on a pseudo-terminal of its own (its controlling terminal) where `typed`
  // is typed ahead, with the master password on descriptor 3; its exit code and what it showed.
  std::pair<int, std::string> run_on_terminal(std::vector<std::string> args, std::string typed) {
    args.insert(args.begin(), desktop_binary());
    args.insert(args.end(), {"--password-fd", "3"});
    ExecEnvironment envp(scene.env);
    std::vector<char*> argv;
    for (auto& arg : args)
      argv.push_back(arg.data());
    argv.push_back(nullptr);
    int password_pipe[2];
    if (::pipe(password_pipe) != 0) return {-1, "no pipe"};
    std::string password_line = std::string(master) + "\n";
    (void)::write(password_pipe[1], password_line.data(), password_line.size());
    ::close(password_pipe[1]);
    int terminal = -1;
    pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    if (child == 0) {
      ::dup2(password_pipe[0], 3);
      ::execve(argv[0], argv.data(), envp.data());
      _exit(127);
    }
    ::close(password_pipe[0]);
    (void)::write(terminal, typed.data(), typed.size());
    std::string shown;
    char buffer[512];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    pollfd ready{terminal, POLLIN, 0};
    while (std::chrono::steady_clock::now() < deadline) {
      if (::poll(&ready, 1, 100) <= 0) continue;
      ssize_t got = ::read(terminal, buffer, sizeof buffer);
      if (got <= 0) break;  // EIO once the child has closed its side
      shown.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(terminal);
    int status = 0;
    ::waitpid(child, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, shown};
  }

  DesktopScene scene;
  std::optional<TestBroker> broker;
};

std::string accepted_only(const std::string& fingerprint) {
  return R"("accepted":[{"type":"ssh-ed25519","fingerprint":")" + fingerprint +
         R"("}],"rejected":[])";
}

TEST_F(HostKey, TrustedByFingerprintReplacedWhenTheServerChangesThenRejectedAndForgotten) {
  SshdFixture server;
  add_host("box", {"--address", "127.0.0.1", "--port", std::to_string(server.port())});
  const std::string first = desktop::parse_host_key_line(server.host_key_line())->fingerprint;

  struct Refusal {
    const char* what;
    std::vector<std::string> args;
    bool with_password;
    std::vector<std::string> error_has;
  };
  const std::vector<Refusal> refusals{
      {"another key",
       {"hostkey", "trust", "box", "--fingerprint", stranger},
       true,
       {first, stranger, "nothing was saved"}},
      {"no master password",
       {"hostkey", "trust", "box", "--fingerprint", first},
       false,
       {"no terminal to ask the password on"}},
      {"no terminal to confirm on",
       {"hostkey", "trust", "box"},
       true,
       {"no terminal to ask on", "--fingerprint"}},
      {"a malformed fingerprint",
       {"hostkey", "trust", "box", "--fingerprint", "MD5:ab:cd"},
       true,
       {"SHA256:"}},
  };
  for (const Refusal& refusal : refusals) {
    SCOPED_TRACE(refusal.what);
    const std::string before = vault_bytes();
    RunResult refused = admin(refusal.args, refusal.with_password);
    EXPECT_EQ(refused.exit_code, 1) << refused.err;
    for (const std::string& part : refusal.error_has)
      EXPECT_NE(refused.err.find(part), std::string::npos) << refused.err;
    EXPECT_EQ(vault_bytes(), before);
  }

  RunResult trusted = admin({"hostkey", "trust", "box", "--fingerprint", first, "--json"});
  ASSERT_EQ(trusted.exit_code, 0) << trusted.err;
  EXPECT_NE(trusted.out.find(accepted_only(first)), std::string::npos) << trusted.out;
  EXPECT_EQ(known("box"), accepted_only(first));

  // A changed key is no match for the old fingerprint; trusting the new one replaces the old.
  server.change_host_key();
  const std::string second = desktop::parse_host_key_line(server.host_key_line())->fingerprint;
  const std::string before = vault_bytes();
  RunResult stale = admin({"hostkey", "trust", "box", "--fingerprint", first});
  EXPECT_EQ(stale.exit_code, 1);
  EXPECT_NE(stale.err.find(second), std::string::npos) << stale.err;
  EXPECT_EQ(vault_bytes(), before);
  ASSERT_EQ(admin({"hostkey", "trust", "box", "--fingerprint", second}).exit_code, 0);
  EXPECT_EQ(known("box"), accepted_only(second));

  RunResult rejected = admin({"hostkey", "reject", "box", "--json"});
  ASSERT_EQ(rejected.exit_code, 0) << rejected.err;
  EXPECT_NE(rejected.out.find(R"("accepted":[],"rejected":[")" + second + R"("])"),
            std::string::npos)
      << rejected.out;
  ASSERT_EQ(admin({"hostkey", "forget", "box"}).exit_code, 0);
  EXPECT_EQ(known("box"), R"("accepted":[],"rejected":[])");
}

TEST_F(HostKey, TrustedOnlyAfterAYesOnTheTerminal) {
  SshdFixture server;
  add_host("box", {"--address", "127.0.0.1", "--port", std::to_string(server.port())});
  const std::string fingerprint = desktop::parse_host_key_line(server.host_key_line())->fingerprint;
  struct Answer {
    const char* typed;
    int exit_code;
    std::string known_after;
  };
  const std::vector<Answer> answers{
      {"\n", 1, R"("accepted":[],"rejected":[])"},
      {"no\n", 1, R"("accepted":[],"rejected":[])"},
      {"y\n", 0, accepted_only(fingerprint)},
  };
  for (const Answer& answer : answers) {
    SCOPED_TRACE(answer.typed);
    auto [exit_code, shown] = run_on_terminal({"hostkey", "trust", "box"}, answer.typed);
    EXPECT_EQ(exit_code, answer.exit_code) << shown;
    EXPECT_NE(shown.find(fingerprint), std::string::npos) << shown;  // asked with the key shown
    EXPECT_EQ(known("box"), answer.known_after);
  }
}

TEST_F(HostKey, HostsWithoutAReachableServer) {
  add_host("here", {"--protocol", "LOCAL"});
  RunResult local = admin({"hostkey", "trust", "here", "--fingerprint", stranger});
  EXPECT_EQ(local.exit_code, 1);
  EXPECT_NE(local.err.find("LOCAL"), std::string::npos) << local.err;

  add_host("gone", {"--address", "127.0.0.1", "--port", std::to_string(closed_port())});
  const std::string before = vault_bytes();
  RunResult unreachable = admin({"hostkey", "trust", "gone", "--fingerprint", stranger});
  EXPECT_EQ(unreachable.exit_code, 1);
  EXPECT_NE(unreachable.err.find("connect_failed"), std::string::npos) << unreachable.err;
  EXPECT_EQ(vault_bytes(), before);
  // A fingerprint given is rejected without asking the server.
  ASSERT_EQ(admin({"hostkey", "reject", "gone", "--fingerprint", stranger}).exit_code, 0);
  EXPECT_EQ(known("gone"), R"("accepted":[],"rejected":[")" + stranger + R"("])");

  EXPECT_EQ(admin({"hostkey", "list", "nobody"}).exit_code, 2);
}

}  // namespace
}  // namespace pendrel::testing
