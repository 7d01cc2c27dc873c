// SSH hosts through the real pendrel and service against a real sshd: the host key from
// unknown to trusted to changed, exec's answers, the ways a login succeeds or fails, a host's
// command-line login, a host's connection options, and a remote command that ends with its
// killed caller.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <thread>

#include "ssh_scene.h"

namespace pendrel::testing {
namespace {

using namespace std::chrono_literals;

TEST_F(SshScene, HostKeyFromUnknownToTrustedToChangedAndExecAnswers) {
  std::string id = add_key_host("web-1");
  start_service();

  RunResult ls = pendrel({"ls"});
  EXPECT_NE(ls.out.find(R"("name":"web-1")"), std::string::npos) << ls.out;
  EXPECT_NE(ls.out.find(R"("protocol":"SSH")"), std::string::npos) << ls.out;

  RunResult unknown = pendrel({"exec", "web-1", "true"});
  EXPECT_EQ(code_of(unknown), "hostkey_unknown");
  // The person compares the fingerprint the answer shows and trusts exactly that key; the
  // running service takes it up at once.
  auto at = unknown.out.find("SHA256:");
  ASSERT_NE(at, std::string::npos) << unknown.out;
  std::string shown = unknown.out.substr(at, 7 + 43);
  EXPECT_EQ(shown, server_fingerprint());
  EXPECT_NE(admin({"hostkey", "trust", "web-1", "--fingerprint",
                   "SHA256:AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA", "--password-fd", "0"},
                  lines({ssh_master}))
                .exit_code,
            0)
      << "another key is refused";
  EXPECT_EQ(code_of(pendrel({"exec", "web-1", "true"})), "hostkey_unknown");
  trust_host_key("web-1", shown);

  struct Case {
    std::string command;
    int exit_code;
    std::vector<std::string> parts;
  };
  const std::vector<Case> cases{
      {"echo out; echo err >&2; exit 3", 3, {R"("stdout":"out\n")", R"("stderr":"err\n")"}},
      {"kill -TERM $$", 128 + SIGTERM, {R"("stdout":"")"}},
      {"head -c 2097152 /dev/zero | tr '\\0' a", 0, {R"("truncated":true)"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    RunResult result = pendrel({"exec", id, c.command});
    EXPECT_EQ(result.exit_code, c.exit_code) << result.out.substr(0, 300) << result.err;
    EXPECT_NE(result.out.find("\"exitCode\":" + std::to_string(c.exit_code)), std::string::npos);
    for (const std::string& part : c.parts)
      EXPECT_NE(result.out.find(part), std::string::npos) << part;
  }
  RunResult cut = pendrel({"exec", id, "head -c 2097152 /dev/zero | tr '\\0' a"});
  auto start = cut.out.find(R"("stdout":")") + 10;
  EXPECT_EQ(cut.out.find('"', start) - start, 1'048'576u);

  RunResult script = run_pendrel({.args = {"exec", id, "--stdin"},
                                  .env = scene.env,
                                  .stdin_data = "a=one\nif [ $a = one ]; then\n  echo two\nfi\n"});
  EXPECT_NE(script.out.find(R"("stdout":"two\n")"), std::string::npos) << script.out;
  // Within the stdin limit, but more than one argument of the server's shell may hold.
  std::string long_text;
  for (int line = 0; line < 150'000; ++line)
    long_text += ":\n";
  long_text += "echo done; exit 3\n";
  RunResult long_script =
      run_pendrel({.args = {"exec", id, "--stdin"}, .env = scene.env, .stdin_data = long_text});
  EXPECT_EQ(long_script.exit_code, 3) << long_script.err;
  EXPECT_NE(long_script.out.find(R"("stdout":"done\n","stderr":"")"), std::string::npos)
      << long_script.out;

  RunResult text = pendrel({"exec", id, "echo hello from ssh"}, StdoutMode::terminal);
  EXPECT_EQ(text.exit_code, 0) << text.err;
  EXPECT_NE(text.out.find("hello from ssh"), std::string::npos) << text.out;
  EXPECT_EQ(text.out.find("exitCode"), std::string::npos) << text.out;
  EXPECT_NE(scene.audit().find(R"("outcome":"ok","exitCode":3)"), std::string::npos)
      << scene.audit();

  server->change_host_key();
  RunResult changed = pendrel({"exec", id, "true"});
  EXPECT_EQ(code_of(changed), "hostkey_mismatch") << changed.out;
}

TEST_F(SshScene, ExecsShareOneWarmConnectionUntilTheVaultLocks) {
  std::string id = add_key_host("web-1");
  trust_host_key("web-1");
  start_service();
  auto sessions_become = [&](int count) {
    const auto give_up = std::chrono::steady_clock::now() + 10s;
    while (server->session_count() != count) {
      if (std::chrono::steady_clock::now() > give_up) return false;
      std::this_thread::sleep_for(20ms);
    }
    return true;
  };
  RunResult first = pendrel({"exec", id, "echo $$"});
  RunResult second = pendrel({"exec", id, "echo $$"});
  EXPECT_EQ(first.exit_code, 0) << first.out;
  // A shell of its own for each command, over the one connection.
  EXPECT_NE(first.out, second.out);
  EXPECT_TRUE(sessions_become(1)) << server->session_count();
  ASSERT_EQ(admin({"lock"}).exit_code, 0) << outputs;
  EXPECT_TRUE(sessions_become(0)) << server->session_count();

  // Nothing else stays behind in the service that does the SSH work (the broker's, for this
  // person) either: its descriptors are as many after 20 more requests and the lock that ends
  // their connection.
  const pid_t worker = HeadlessServiceGuard::pid_holding(scene.state_dir);
  ASSERT_GT(worker, 0) << "no service holds " << scene.state_dir << "/run/lock";
  auto descriptors = [&] {
    std::size_t count = 0;
    const std::string fds = "/proc/" + std::to_string(worker) + "/fd";
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(fds))
      ++count;
    return count;
  };
  const std::size_t before = descriptors();
  ASSERT_EQ(admin({"unlock", "--password-fd", "0"}, lines({ssh_master})).exit_code, 0) << outputs;
  for (int i = 0; i < 20; ++i)
    EXPECT_EQ(pendrel({"exec", id, "true"}).exit_code, 0);
  ASSERT_EQ(admin({"lock"}).exit_code, 0) << outputs;
  EXPECT_TRUE(sessions_become(0)) << server->session_count();
  EXPECT_EQ(descriptors(), before);
}

TEST_F(SshScene, LoginsThatWorkAndThoseThatAreRefused) {
  struct Case {
    std::string host;
    std::string code;
  };
  std::vector<Case> cases{
      {add_key_host("by-key"), "ok"},
      {add_host("by-password", {"--password"}, {server->password()}), "ok"},
      {add_host("wrong-password", {"--password"}, {"not-the-password-3"}), "auth_failed"},
      {add_host("locked-key", {"--key", key_file("locked.key", server->encrypted_key())}),
       "key_passphrase_required"},
      {add_host("wrong-passphrase",
                {"--key", key_file("locked3.key", server->encrypted_key()), "--key-passphrase"},
                {"not-the-passphrase"}),
       "key_wrong_passphrase"},
      {add_host("with-passphrase",
                {"--key", key_file("locked2.key", server->encrypted_key()), "--key-passphrase"},
                {SshdFixture::key_passphrase()}),
       "ok"},
      {add_host("closed", {"--password"}, {"whatever-1"}, closed_port()), "connect_failed"},
  };
  trust_host_key("by-key");  // the hosts share the server's address and port, and so its key
  start_service();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.host);
    RunResult result = pendrel({"exec", c.host, "echo logged in"});
    EXPECT_EQ(code_of(result), c.code) << result.out << result.err;
    if (c.code == "ok") {
      EXPECT_NE(result.out.find("logged in"), std::string::npos);
    }
  }
  service->stop();
  std::string everything = outputs + service->stderr_text() + scene.audit();
  EXPECT_EQ(everything.find(server->password()), std::string::npos) << "a password showed";
}

// A host's command-line login serves pendrel's requests in place of the person's, and only
// theirs: the person's login here names a user the test server refuses, so a request that
// reaches the server at all logged in as the command-line user. --terminal is refused while
// the login is set (the terminal would run as the person), host show names its user and no
// secret, and removing it brings the person's login back.
TEST_F(SshScene, ACommandLineLoginServesPendrelsRequestsInsteadOfThePersons) {
  const std::string cli_password(server->password());
  std::string id =
      add_host("agents", {"--user", "pendrel-no-such-user", "--password"}, {"person-secret-4"});
  trust_host_key(id);
  ASSERT_EQ(admin({"host", "set", id, "--cli-user", server->user(), "--cli-password",
                   "--password-fd", "0"},
                  lines({ssh_master, cli_password}))
                .exit_code,
            0)
      << outputs;
  start_service();

  RunResult whoami = pendrel({"exec", id, "whoami"});
  EXPECT_EQ(whoami.exit_code, 0) << whoami.out << whoami.err;
  EXPECT_NE(whoami.out.find(R"("stdout":")" + server->user() + R"(\n")"), std::string::npos)
      << whoami.out;
  const std::string local = scene.home / "sent.txt";
  write_file(local, "sent by the agent");
  EXPECT_EQ(code_of(pendrel({"upload", id, local, server->files_dir() + "/sent.txt"})), "ok");
  EXPECT_EQ(read_file(server->files_dir() + "/sent.txt"), "sent by the agent");

  RunResult terminal = pendrel({"exec", "--terminal", id, "whoami"});
  EXPECT_EQ(code_of(terminal), "bad_request") << terminal.out;
  EXPECT_NE(terminal.out.find("--terminal"), std::string::npos) << terminal.out;

  RunResult shown = admin({"host", "show", id});
  EXPECT_NE(shown.out.find("cli login: " + server->user() + "\n"), std::string::npos) << shown.out;
  RunResult shown_json = admin({"host", "show", id, "--json"});
  EXPECT_NE(shown_json.out.find(R"("hasCliLogin":true,"cliUser":")" + server->user() + "\""),
            std::string::npos)
      << shown_json.out;

  ASSERT_EQ(
      admin({"host", "set", id, "--cli-login", "off", "--password-fd", "0"}, lines({ssh_master}))
          .exit_code,
      0)
      << outputs;
  EXPECT_EQ(code_of(pendrel({"exec", id, "whoami"})), "auth_failed");
  EXPECT_EQ(code_of(pendrel({"exec", "--terminal", id, "whoami"})), "terminal_not_open");
  EXPECT_NE(admin({"host", "show", id}).out.find("cli login: none\n"), std::string::npos)
      << outputs;

  service->stop();
  const std::string everything = outputs + service->stderr_text() + scene.audit() +
                                 read_file(scene.store_dir() + "/hosts.json");
  for (std::string_view secret :
       {std::string_view(cli_password), std::string_view("person-secret-4")})
    EXPECT_EQ(everything.find(secret), std::string::npos) << "a password showed";
}

// Servers that ask more than one login step, or lack SFTP, each on a port of its own.
TEST_F(SshScene, ServersWithSecondStepsOrWithoutSftp) {
  start_service();
  struct Case {
    SshdVariant variant;
    std::vector<std::string> verb;
    std::string code;
  };
  const std::string local = scene.home / "sent.txt";
  write_file(local, "sent");
  const std::vector<Case> cases{
      {SshdVariant::key_then_password_prompt, {"exec", "echo answered"}, "ok"},
      {SshdVariant::key_then_other_question, {"exec", "true"}, "auth_interaction_required"},
      {SshdVariant::no_sftp, {"upload", local, "sent.txt"}, "sftp_unavailable"},
  };
  int number = 0;
  for (const Case& c : cases) {
    server.emplace(c.variant);
    const std::string name = "variant-" + std::to_string(++number);
    SCOPED_TRACE(name);
    std::string id =
        add_host(name, {"--key", key_file(name + ".key", server->plain_key()), "--password"},
                 {server->password()});
    trust_host_key(id);
    std::vector<std::string> args{c.verb[0], id};
    args.insert(args.end(), c.verb.begin() + 1, c.verb.end());
    RunResult result = pendrel(args);
    EXPECT_EQ(code_of(result), c.code) << result.out << result.err;
  }
}

// The connection options a person sets on a host: the time limit ends a long command, the
// connect timeout gives up on a server that never answers, and a server that knows only old
// algorithms is refused until the host's legacy devices option is on. Each change reaches the
// running service at once.
TEST_F(SshScene, TheConnectionOptionsAPersonSetsOnAHost) {
  std::string limited = add_host(
      "limited", {"--key", key_file("limited.key", server->plain_key()), "--max-duration", "1"});
  trust_host_key(limited);
  start_service();
  RunResult ended = pendrel({"exec", limited, "sleep 30"});
  EXPECT_EQ(code_of(ended), "canceled") << ended.out;
  EXPECT_NE(ended.out.find("time limit of 1 s"), std::string::npos) << ended.out;
  EXPECT_NE(ended.out.find("--max-duration"), std::string::npos) << ended.out;

  SilentListener silent;
  std::string mute =
      add_host("mute", {"--password", "--connect-timeout", "1"}, {"whatever-1"}, silent.port());
  RunResult waited = pendrel({"exec", mute, "true"});
  EXPECT_EQ(code_of(waited), "connect_failed") << waited.out;
  EXPECT_NE(waited.out.find("within 1 s"), std::string::npos) << waited.out;

  server.emplace(SshdVariant::legacy_only);
  std::string old = add_key_host("old-device");
  RunResult refused = pendrel({"exec", old, "true"});
  EXPECT_EQ(code_of(refused), "algorithm_mismatch") << refused.out;
  EXPECT_NE(refused.out.find("key exchange"), std::string::npos) << refused.out;
  EXPECT_NE(refused.out.find("--legacy on"), std::string::npos) << refused.out;

  ASSERT_EQ(admin({"host", "set", old, "--legacy", "on", "--password-fd", "0"}, lines({ssh_master}))
                .exit_code,
            0)
      << outputs;
  EXPECT_NE(admin({"host", "show", old, "--json"}).out.find(R"("legacyAlgorithms":true)"),
            std::string::npos);
  trust_host_key(old);  // its key exchange needs the option as well
  RunResult served = pendrel({"exec", old, "echo served"});
  EXPECT_EQ(code_of(served), "ok") << served.out << served.err;
  EXPECT_NE(served.out.find(R"("stdout":"served\n")"), std::string::npos) << served.out;
}

TEST_F(SshScene, AKilledCallerEndsTheRemoteCommand) {
  std::string id = add_key_host("long");
  trust_host_key(id);
  start_service();
  // The remote user writes its pid where the test can read it: the server runs on this machine.
  std::string pid_file = server->files_dir() + "/long.pid";
  pid_t caller = scene.spawn_pendrel({"exec", id,
                                      "echo $$ > " + pid_file + ".tmp && mv " + pid_file + ".tmp " +
                                          pid_file + " && exec sleep 300"});
  ASSERT_GT(caller, 0);
  pid_t remote = -1;
  for (int tries = 0; tries < 1000 && remote <= 0; ++tries) {
    std::ifstream(pid_file) >> remote;
    if (remote <= 0) std::this_thread::sleep_for(10ms);
  }
  ASSERT_GT(remote, 0) << service->stderr_text();
  ASSERT_EQ(::kill(remote, 0), 0) << "the remote command runs";

  ::kill(caller, SIGKILL);
  ::waitpid(caller, nullptr, 0);
  EXPECT_TRUE(wait_until_gone(remote)) << "the remote command ends with its caller";
  for (int tries = 0; tries < 250 && scene.audit().find("canceled") == std::string::npos; ++tries)
    std::this_thread::sleep_for(20ms);
  EXPECT_NE(scene.audit().find(R"("outcome":"canceled")"), std::string::npos) << scene.audit();
  EXPECT_NE((service->stderr_text() + scene.service_log()).find("the caller closed its connection"),
            std::string::npos);
}

}  // namespace
}  // namespace pendrel::testing
