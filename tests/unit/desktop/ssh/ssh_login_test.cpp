// Connecting and logging in against a real sshd: host keys, every credential and the codes
// of their failures, algorithms, and servers that are not there.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "desktop/ssh/ssh_connection.h"
#include "ssh_test_host.h"

namespace pendrel::desktop::testing {
namespace {

struct LoginCase {
  const char* name;
  TestCredentials credentials;
  KnownHostKeys keys;
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
  const KnownHostKeys trusted = trusting(server);
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
       KnownHostKeys{{"[127.0.0.1]:22 " + server.host_key_line()}, {}},
       "",
       {}},
      {"no accepted key", {key, {}, {}}, {}, "hostkey_unknown", {"ssh-ed25519", fingerprint}},
      {"rejected key",
       {key, {}, {}},
       KnownHostKeys{{server.host_key_line()}, {fingerprint}},
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
      target, {"the new key trusted", {key, {}, {}}, KnownHostKeys{{refetched->line}, {}}, "", {}});
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
