// The decisions made without a server: which prompts get the password, how a failed
// negotiation reads, which host-key types are offered first.
#include <gtest/gtest.h>

#include "desktop/broker/ssh/algorithms.h"
#include "desktop/broker/ssh/authenticate.h"

namespace pendrel::desktop {
namespace {

TEST(SshRules, OnlyPasswordPromptsGetThePassword) {
  const std::vector<std::tuple<const char*, bool, bool>> prompts{
      {"Password: ", false, true},
      {"bob@web-1's password: ", false, true},
      {"Password for bob@web-1:", false, true},
      {"(current) UNIX password: ", false, true},
      {"Password: ", true, false},  // echoed: not a secret being asked for
      {"New password: ", false, false},
      {"Retype new password: ", false, false},
      {"Verification code: ", false, false},
      {"One-time password (OATH) for `bob': ", false, false},
      {"Enter PASSCODE: ", false, false},
      {"Passcode or option (1-3): ", false, false},
      {"PIN: ", false, false},
      {"Guest login ok, send your complete e-mail address as password.", false, false},
      {"", false, false},
  };
  for (const auto& [prompt, echo, answered] : prompts) {
    EXPECT_EQ(is_password_prompt(prompt, echo), answered) << '"' << prompt << '"';
  }
}

TEST(SshRules, NegotiationFailuresNameTheMethodAndTheOption) {
  const auto kex = algorithm_mismatch_from(
      "kex error : no match for method kex algos: server [diffie-hellman-group1-sha1], client "
      "[curve25519-sha256]",
      LegacyAlgorithms::off);
  ASSERT_TRUE(kex.has_value());
  EXPECT_EQ(kex->code, "algorithm_mismatch");
  EXPECT_EQ(kex->message,
            "the server and this program share no key exchange algorithm (the server offers: "
            "diffie-hellman-group1-sha1); if the host is an old device, turn on its legacy "
            "devices option (pendrel-desktop host set HOST --legacy on)");
  const auto mac = algorithm_mismatch_from(
      "kex error : no match for method mac algo client->server: server [umac-32], client [x]",
      LegacyAlgorithms::on);
  ASSERT_TRUE(mac.has_value());
  EXPECT_NE(mac->message.find("no MAC algorithm (the server offers: umac-32)"), std::string::npos);
  EXPECT_NE(mac->message.find("update the server"), std::string::npos);
  EXPECT_FALSE(algorithm_mismatch_from("Connection refused", LegacyAlgorithms::off).has_value());
}

TEST(SshRules, TheAcceptedKeyTypeIsOfferedFirst) {
  EXPECT_TRUE(host_key_algorithms(LegacyAlgorithms::off, {}).starts_with("ssh-ed25519,"));
  EXPECT_TRUE(host_key_algorithms(LegacyAlgorithms::off, {"ssh-rsa"})
                  .starts_with("rsa-sha2-512,rsa-sha2-256,ssh-ed25519,"));
  EXPECT_EQ(host_key_algorithms(LegacyAlgorithms::off, {"ssh-rsa"}).find(",ssh-rsa"),
            std::string::npos);
  EXPECT_TRUE(host_key_algorithms(LegacyAlgorithms::on, {"ssh-rsa"})
                  .starts_with("rsa-sha2-512,rsa-sha2-256,ssh-rsa,ssh-ed25519,"));
  // Each name once, and no type libssh would not offer.
  EXPECT_EQ(host_key_algorithms(LegacyAlgorithms::off, {"ecdsa-sha2-nistp256", "bogus"}),
            "ecdsa-sha2-nistp256,ssh-ed25519,ecdsa-sha2-nistp521,ecdsa-sha2-nistp384,"
            "sk-ssh-ed25519@openssh.com,sk-ecdsa-sha2-nistp256@openssh.com,rsa-sha2-512,"
            "rsa-sha2-256");
}

}  // namespace
}  // namespace pendrel::desktop
