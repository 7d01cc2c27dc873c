// What the SSH tests share: a target, credentials and accepted keys for a test server.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "desktop/broker/ssh/ssh_target.h"
#include "desktop/front/runner/cancel_watch.h"
#include "support/sshd_fixture.h"

namespace pendrel::desktop::testing {

using pendrel::testing::SshdFixture;
using pendrel::testing::SshdVariant;

#define SKIP_WITHOUT_SSHD() \
  if (auto reason = ::pendrel::testing::SshdFixture::skip_reason()) GTEST_SKIP() << *reason

inline SshTarget target_of(const SshdFixture& server) {
  SshTarget target;
  target.address = "127.0.0.1";
  target.port = server.port();
  target.username = server.user();
  return target;
}

// The fixture's key texts, kept alive for the views in SshCredentials.
struct TestCredentials {
  std::string key;
  std::string passphrase;
  std::string password;
  SshCredentials view() const {
    SshCredentials credentials;
    if (!key.empty()) credentials.private_key = key;
    if (!passphrase.empty()) credentials.key_passphrase = passphrase;
    if (!password.empty()) credentials.password = password;
    return credentials;
  }
};

inline TestCredentials key_login(const SshdFixture& server) {
  return {server.plain_key(), {}, {}};
}

inline TrustedHostKeys trusting(const SshdFixture& server) {
  return TrustedHostKeys{{server.host_key_line()}, {}};
}

inline const CancelWatch no_cancel{};

}  // namespace pendrel::desktop::testing
