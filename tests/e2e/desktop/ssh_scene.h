// The common ground of the SSH-host end-to-end tests: a real sshd, a vault holding hosts that
// point at it, the running service unlocked, and pendrel's answers read back.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "desktop/vault/plain_hosts.h"
#include "desktop/vault/unlocked_vault.h"
#include "desktop_scene.h"
#include "support/sshd_fixture.h"

namespace pendrel::testing {

inline constexpr std::string_view ssh_master = "ssh-scene-master-5";

class SshScene : public ::testing::Test {
 protected:
  void SetUp() override {
    if (desktop_binary().empty()) GTEST_SKIP() << "PENDREL_DESKTOP_BIN is not set";
    if (auto reason = SshdFixture::skip_reason()) GTEST_SKIP() << *reason;
    server.emplace();
    scene.env["PENDREL_DESKTOP_TEST_KDF"] = "interactive";
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

  // Accepts the server's current host key for its address and port, as the person does after
  // checking the fingerprint; the service takes it up at the next unlock.
  void trust_host_key() {
    std::string line = server->host_key_line();
    auto space = line.find(' ');
    auto vault = desktop::UnlockedVault::open(desktop::vault_path(scene.data_dir),
                                              desktop::SecretString::copy_of(ssh_master));
    ASSERT_TRUE(vault.has_value()) << vault.error().detail;
    vault->contents()
        .host_keys[desktop::host_key_entry("127.0.0.1", server->port())]
        .accepted.push_back({line.substr(0, space), line.substr(space + 1), "SHA256:test"});
    ASSERT_TRUE(vault->save().has_value());
    if (service) {
      ASSERT_EQ(admin({"unlock", "--password-fd", "0"}, lines({ssh_master})).exit_code, 0)
          << outputs;
    }
  }

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
  std::optional<DesktopService> service;
  std::string outputs;  // everything every command printed
};

}  // namespace pendrel::testing
