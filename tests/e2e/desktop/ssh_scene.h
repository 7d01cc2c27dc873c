// The common ground of the SSH-host end-to-end tests: a real sshd, a broker of the test's own
// (as an installed pendrel-desktop has: the vault, the SSH sessions and the audit are its), a
// vault holding hosts that point at the sshd, the person's front unlocked, and pendrel's
// answers read back.
#pragma once

#include <gtest/gtest.h>
#include <sodium.h>

#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "desktop_scene.h"
#include "support/sshd_fixture.h"
#include "support/test_broker.h"

namespace pendrel::testing {

inline constexpr std::string_view ssh_master = "ssh-scene-master-5";

class SshScene : public ::testing::Test {
 protected:
  void SetUp() override {
    if (desktop_binary().empty()) GTEST_SKIP() << "PENDREL_DESKTOP_BIN is not set";
    if (auto reason = SshdFixture::skip_reason()) GTEST_SKIP() << *reason;
    server.emplace();
    scene.env["PENDREL_DESKTOP_TEST_KDF"] = "interactive";
    broker.emplace(scene.home.path(), scene.env);
    ASSERT_TRUE(broker->ready()) << "the test's broker did not start";
    scene.env = broker->pointed_at(scene.env);
    scene.state_dir = broker->state_of(::getuid());
    ASSERT_EQ(admin({"init", "--password-fd", "0"}, lines({ssh_master})).exit_code, 0) << outputs;
  }

  // pendrel-desktop with `input` on its standard input (read by --password-fd 0).
  RunResult admin(std::vector<std::string> args, std::string input = {}) {
    RunResult result = run_pendrel({.args = std::move(args),
                                    .env = scene.env,
                                    .stdin_data = std::move(input),
                                    .program = desktop_binary()});
    outputs += result.out + result.err;
    return result;
  }
  static std::string lines(std::vector<std::string_view> typed) {
    std::string text;
    for (std::string_view line : typed)
      text += std::string(line) + "\n";
    return text;
  }

  // Adds an SSH host at the test server (or `port`) with CLI access; its id. `typed` follows
  // the master password on the descriptor (a host password, a key passphrase).
  std::string add_host(const std::string& name, std::vector<std::string> extra,
                       std::vector<std::string_view> typed = {},
                       std::optional<std::uint16_t> port = std::nullopt) {
    std::vector<std::string> args{"host",
                                  "add",
                                  name,
                                  "--address",
                                  "127.0.0.1",
                                  "--port",
                                  std::to_string(port.value_or(server->port())),
                                  "--user",
                                  server->user(),
                                  "--cli",
                                  "on",
                                  "--password-fd",
                                  "0"};
    args.insert(args.end(), extra.begin(), extra.end());
    typed.insert(typed.begin(), ssh_master);
    RunResult result = admin(args, lines(typed));
    EXPECT_EQ(result.exit_code, 0) << result.err;
    return result.out.substr(0, result.out.find('\n'));
  }
  // A private key's text in a file for `host add --key`.
  std::string key_file(const std::string& name, const std::string& text) {
    std::string path = scene.home / name;
    std::ofstream(path) << text;
    return path;
  }
  std::string add_key_host(const std::string& name) {
    return add_host(name, {"--key", key_file(name + ".key", server->plain_key())});
  }

  void start_service() {
    service.emplace(scene.env, scene.data_dir);
    ASSERT_TRUE(service->ready()) << service->stderr_text();
    ASSERT_EQ(admin({"unlock", "--password-fd", "0"}, lines({ssh_master})).exit_code, 0) << outputs;
  }

  // The SHA256 fingerprint of the server's current host key, as ssh-keygen -lf prints it.
  std::string server_fingerprint() const {
    if (sodium_init() < 0) ADD_FAILURE() << "libsodium does not start";
    std::string line = server->host_key_line();
    std::string base64 = line.substr(line.find(' ') + 1);
    std::vector<unsigned char> blob(base64.size());
    std::size_t size = 0;
    if (sodium_base642bin(blob.data(), blob.size(), base64.data(), base64.size(), nullptr, &size,
                          nullptr, sodium_base64_VARIANT_ORIGINAL) != 0) {
      ADD_FAILURE() << "not base64: " << line;
      return {};
    }
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(digest, blob.data(), size);
    char text[sodium_base64_ENCODED_LEN(crypto_hash_sha256_BYTES,
                                        sodium_base64_VARIANT_ORIGINAL_NO_PADDING)];
    sodium_bin2base64(text, sizeof text, digest, sizeof digest,
                      sodium_base64_VARIANT_ORIGINAL_NO_PADDING);
    return std::string("SHA256:") + text;
  }

  // Trusts the server's key for `host` as the person does, with the fingerprint compared.
  void trust_host_key(const std::string& host, const std::string& fingerprint) {
    RunResult trusted =
        admin({"hostkey", "trust", host, "--fingerprint", fingerprint, "--password-fd", "0"},
              lines({ssh_master}));
    ASSERT_EQ(trusted.exit_code, 0) << trusted.out << trusted.err;
  }
  void trust_host_key(const std::string& host) { trust_host_key(host, server_fingerprint()); }

  // The error code of a JSON answer, or "ok".
  static std::string code_of(const RunResult& result) {
    auto at = result.out.find(R"({"error":")");
    if (at == std::string::npos) return result.exit_code == 0 ? "ok" : "exit: " + result.out;
    at += 10;
    return result.out.substr(at, result.out.find('"', at) - at);
  }
  RunResult pendrel(std::vector<std::string> args, StdoutMode mode = StdoutMode::pipe) {
    RunResult result = scene.pendrel(std::move(args), mode);
    outputs += result.out + result.err;
    return result;
  }

  std::optional<SshdFixture> server;
  DesktopScene scene;
  std::optional<TestBroker> broker;
  std::optional<DesktopService> service;  // the person's front
  std::string outputs;                    // everything every command printed
};

}  // namespace pendrel::testing
