// Connecting and logging in against a real sshd: host keys, every credential and the codes
// of their failures, algorithms, and servers that are not there.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include <stdexcept>
#include <string>
#include <vector>

#include "desktop/broker/ssh/ssh_connection.h"
#include "ssh_test_host.h"
#include "support/sshd_test_user.h"
#include "support/temp_dir.h"

namespace pendrel::desktop::testing {
namespace {

struct LoginCase {
  const char* name;
  TestCredentials credentials;
  TrustedHostKeys keys;
  const char* code;  // empty: logged in
  std::vector<std::string> message_has;
};

void expect_login(const SshTarget& target, const LoginCase& login) {
  SCOPED_TRACE(login.name);
  auto session = open_ssh_session(target, login.credentials.view(), login.keys);
  if (std::string_view(login.code).empty()) {
    EXPECT_TRUE(session.has_value()) << session.error().code << ": " << session.error().message;
    return;
  }
  ASSERT_FALSE(session.has_value());
  EXPECT_EQ(session.error().code, login.code) << session.error().message;
  for (const std::string& part : login.message_has) {
    EXPECT_NE(session.error().message.find(part), std::string::npos)
        << session.error().message << " lacks " << part;
  }
}

TEST(SshLogin, CredentialsAndHostKeysAgainstOneServer) {
  SKIP_WITHOUT_SSHD();
  SshdFixture server;
  const SshTarget target = target_of(server);
  const TrustedHostKeys trusted = trusting(server);
  auto fetched = fetch_host_key(target);
  ASSERT_TRUE(fetched.has_value()) << fetched.error().message;
  EXPECT_EQ(fetched->line, server.host_key_line());
  EXPECT_EQ(fetched->type, "ssh-ed25519");
  const std::string fingerprint = fetched->fingerprint;
  const std::string key = server.plain_key();
  const std::string encrypted = server.encrypted_key();
  const std::string password = server.password();

  const std::vector<LoginCase> cases{
      {"key", {key, {}, {}}, trusted, "", {}},
      {"password", {{}, {}, password}, trusted, "", {}},
      {"encrypted key with its passphrase",
       {encrypted, SshdFixture::key_passphrase(), {}},
       trusted,
       "",
       {}},
      {"accepted as a known_hosts line",
       {key, {}, {}},
       TrustedHostKeys{{"[127.0.0.1]:22 " + server.host_key_line()}, {}},
       "",
       {}},
      {"no accepted key", {key, {}, {}}, {}, "hostkey_unknown", {"ssh-ed25519", fingerprint}},
      {"rejected key",
       {key, {}, {}},
       TrustedHostKeys{{server.host_key_line()}, {fingerprint}},
       "hostkey_rejected",
       {fingerprint}},
      {"nothing to log in with", {}, trusted, "credential_missing", {}},
      {"wrong password",
       {{}, {}, "not-the-password"},
       trusted,
       "auth_failed",
       {"tried password", "publickey"}},
      {"encrypted key, no passphrase", {encrypted, {}, {}}, trusted, "key_passphrase_required", {}},
      {"encrypted key, wrong passphrase",
       {encrypted, "wrong", {}},
       trusted,
       "key_wrong_passphrase",
       {}},
      {"PuTTY key",
       {"PuTTY-User-Key-File-3: ssh-ed25519\nEncryption: none\n", {}, {}},
       trusted,
       "key_unsupported",
       {"puttygen"}},
      {"damaged key", {key.substr(0, key.size() / 2), {}, {}}, trusted, "key_invalid", {}},
  };
  for (const LoginCase& login : cases)
    expect_login(target, login);

  // The server's key changes: the one accepted before no longer matches.
  server.change_host_key();
  expect_login(
      target,
      {"changed host key", {key, {}, {}}, trusted, "hostkey_mismatch", {fingerprint, "changed"}});
  auto refetched = fetch_host_key(target);
  ASSERT_TRUE(refetched.has_value());
  EXPECT_NE(refetched->fingerprint, fingerprint);
  expect_login(
      target,
      {"the new key trusted", {key, {}, {}}, TrustedHostKeys{{refetched->line}, {}}, "", {}});
}

TEST(SshLogin, SecondFactorsAndAlgorithms) {
  SKIP_WITHOUT_SSHD();
  const std::vector<std::pair<SshdVariant, std::vector<LoginCase>>> servers{
      {SshdVariant::key_then_password_prompt,
       {{"key, then the password at keyboard-interactive", {"K", {}, "P"}, {}, "", {}},
        {"key and no password for the second step",
         {"K", {}, {}},
         {},
         "auth_interaction_required",
         {"keyboard-interactive"}}}},
      {SshdVariant::key_then_other_question,
       {{"a question that is not a password prompt",
         {"K", {}, "P"},
         {},
         "auth_interaction_required",
         {"e-mail"}}}},
  };
  for (const auto& [variant, cases] : servers) {
    SshdFixture server(variant);
    for (LoginCase login : cases) {
      if (login.credentials.key == "K") login.credentials.key = server.plain_key();
      if (login.credentials.password == "P") login.credentials.password = server.password();
      login.keys = trusting(server);
      expect_login(target_of(server), login);
    }
  }

  SshdFixture old_server(SshdVariant::legacy_only);
  SshTarget target = target_of(old_server);
  const LoginCase modern_only{"modern algorithms only",
                              key_login(old_server),
                              trusting(old_server),
                              "algorithm_mismatch",
                              {"key exchange", "legacy devices"}};
  expect_login(target, modern_only);
  target.legacy = LegacyAlgorithms::on;
  expect_login(target, {"legacy devices on", key_login(old_server), trusting(old_server), "", {}});
}

// An ssh-agent holding the server's authorized key, on a socket of its own.
class TestAgent {
 public:
  explicit TestAgent(const std::string& key_text) {
    socket_ = dir_ / "agent.sock";
    int ready[2];
    if (::pipe(ready) != 0) throw std::runtime_error("pipe failed");
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(ready[1], 1);
      ::execlp("ssh-agent", "ssh-agent", "-D", "-a", socket_.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(ready[1]);
    // The agent prints its environment line once the socket listens.
    char line[256];
    [[maybe_unused]] auto got = ::read(ready[0], line, sizeof line);
    ::close(ready[0]);
    const std::string key_file = dir_ / "id";
    pendrel::testing::write_file(key_file, key_text);
    std::filesystem::permissions(key_file, std::filesystem::perms::owner_read);
    ::setenv("SSH_AUTH_SOCK", socket_.c_str(), 1);
    pendrel::testing::run_tool("ssh-add", {"-q", key_file});
  }
  ~TestAgent() {
    ::unsetenv("SSH_AUTH_SOCK");
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  TestAgent(const TestAgent&) = delete;
  TestAgent& operator=(const TestAgent&) = delete;

 private:
  pendrel::testing::TempDir dir_;
  std::string socket_;
  pid_t pid_ = -1;
};

TEST(SshLogin, TheServicesAgent) {
  SKIP_WITHOUT_SSHD();
  SshdFixture server;
  SshCredentials agent_only;
  agent_only.agent = UseAgent::yes;
  {
    TestAgent agent(server.plain_key());
    auto session = open_ssh_session(target_of(server), agent_only, trusting(server));
    EXPECT_TRUE(session.has_value()) << session.error().message;
  }
  // No agent running: one refused method, not a broken connection.
  auto session = open_ssh_session(target_of(server), agent_only, trusting(server));
  ASSERT_FALSE(session.has_value());
  EXPECT_EQ(session.error().code, "auth_failed") << session.error().message;
  EXPECT_NE(session.error().message.find("tried agent"), std::string::npos);
}

TEST(SshLogin, ServersThatAreNotThere) {
  SKIP_WITHOUT_SSHD();
  pendrel::testing::SilentListener silent;
  const std::vector<std::pair<const char*, std::uint16_t>> ports{
      {"closed port", pendrel::testing::closed_port()},
      {"listener that never answers", silent.port()},
  };
  for (const auto& [name, port] : ports) {
    SCOPED_TRACE(name);
    SshTarget target{
        "127.0.0.1", port, "nobody", LegacyAlgorithms::off, std::chrono::milliseconds(400),
        std::nullopt};
    TestCredentials credentials{{}, {}, "x"};
    auto session = open_ssh_session(target, credentials.view(), {});
    ASSERT_FALSE(session.has_value());
    EXPECT_EQ(session.error().code, "connect_failed") << session.error().message;
  }
  SshTarget unresolvable{
      "no-such-host.invalid",         22,          "nobody", LegacyAlgorithms::off,
      std::chrono::milliseconds(400), std::nullopt};
  auto fetched = fetch_host_key(unresolvable);
  ASSERT_FALSE(fetched.has_value());
  EXPECT_EQ(fetched.error().code, "connect_failed");
}

}  // namespace
}  // namespace pendrel::desktop::testing
