// The vault through the real programs: the states an SSH host goes through (no vault, locked,
// open, locked again, the whole application locked), unlocking from a terminal and from a
// descriptor, changes that need the master password, a plain hosts file edited behind the
// service's back, the idle lock, a damaged vault, and no secret anywhere outside the vault.
#include <fcntl.h>
#include <grp.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "desktop_scene.h"
#include "support/sshd_fixture.h"
#include "support/sshd_test_user.h"

namespace pendrel::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::string_view master = "correct-horse-master-7";
constexpr std::string_view host_secret = "s3cret-host-password-91";

// Runs pendrel-desktop with its controlling terminal on a pseudo-terminal and types `typed`
// (one line per prompt) as each prompt appears; gives the exit code and what it showed.
std::pair<int, std::string> run_on_terminal(const std::map<std::string, std::string>& env,
                                            std::vector<std::string> args,
                                            std::vector<std::string> typed) {
  std::vector<std::string> storage{desktop_binary()};
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& arg : storage)
    argv.push_back(arg.data());
  argv.push_back(nullptr);
  ExecEnvironment envp(env);
  int terminal = -1;
  pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
  if (child == 0) {
    ::execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  std::string shown;
  std::size_t next = 0;
  auto deadline = std::chrono::steady_clock::now() + 30s;
  char buffer[512];
  while (std::chrono::steady_clock::now() < deadline) {
    ssize_t got = ::read(terminal, buffer, sizeof buffer);
    if (got <= 0) break;  // EIO once the child has closed its side
    shown.append(buffer, static_cast<std::size_t>(got));
    if (next < typed.size() && shown.ends_with(": ")) {
      std::string line = typed[next++] + "\n";
      (void)::write(terminal, line.data(), line.size());
    }
  }
  ::close(terminal);
  int status = 0;
  ::waitpid(child, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, shown};
}

class Vault : public ::testing::Test {
 protected:
  void SetUp() override {
    if (desktop_binary().empty()) GTEST_SKIP() << "PENDREL_DESKTOP_BIN is not set";
    scene.env["PENDREL_DESKTOP_TEST_KDF"] = "interactive";
    write_hosts(scene.data_dir, "[" + local_host("loc1", "here") + "]");
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
  std::string with_fd(std::string_view first, std::string_view second = {}) {
    std::string lines = std::string(first) + "\n";
    if (!second.empty()) lines += std::string(second) + "\n";
    return lines;
  }
  // The error code pendrel answers for `exec HOST true`, or "ok".
  std::string exec_code(const std::string& host) {
    RunResult result = scene.pendrel({"exec", host, "true"});
    outputs += result.out + result.err;
    auto at = result.out.find(R"({"error":")");
    if (at == std::string::npos) return result.exit_code == 0 ? "ok" : "exit " + result.out;
    at += 10;
    return result.out.substr(at, result.out.find('"', at) - at);
  }
  std::string ls_code() {
    RunResult result = scene.pendrel({"ls"});
    outputs += result.out + result.err;
    if (result.exit_code == 0) return "ok";
    auto at = result.out.find(R"({"error":")") + 10;
    return result.out.substr(at, result.out.find('"', at) - at);
  }
  void init_vault() {
    ASSERT_EQ(admin({"init", "--password-fd", "0"}, with_fd(master)).exit_code, 0) << outputs;
  }
  // The host points at a port where nothing listens, so that a request that gets past the
  // vault ends in connect_failed, whatever else this machine runs.
  std::string add_ssh_host(std::string name, std::vector<std::string> extra, std::string input) {
    std::vector<std::string> args{"host",
                                  "add",
                                  name,
                                  "--address",
                                  "127.0.0.1",
                                  "--port",
                                  std::to_string(closed_port()),
                                  "--cli",
                                  "on",
                                  "--password-fd",
                                  "0"};
    args.insert(args.end(), extra.begin(), extra.end());
    RunResult result = admin(args, std::move(input));
    EXPECT_EQ(result.exit_code, 0) << result.err;
    return result.out.substr(0, result.out.find('\n'));
  }

  DesktopScene scene;
  std::string outputs;  // everything every command printed, searched for secrets at the end
};

TEST_F(Vault, StatesOfAnSshHostFromNoVaultToTheWholeApplicationLocked) {
  DesktopService service(scene.env, scene.data_dir);
  ASSERT_TRUE(service.ready()) << service.stderr_text();
  RunResult early = admin({"host", "add", "early", "--address", "127.0.0.1", "--cli", "on"});
  ASSERT_EQ(early.exit_code, 0) << early.err;
  std::string early_id = early.out.substr(0, early.out.find('\n'));
  EXPECT_EQ(exec_code(early_id), "vault_needs_setup");
  EXPECT_EQ(exec_code("loc1"), "ok");

  init_vault();
  std::string ssh1 = add_ssh_host("ssh1", {"--password"}, with_fd(master, host_secret));
  std::string bare = add_ssh_host("bare", {}, with_fd(master));
  EXPECT_EQ(exec_code(ssh1), "vault_locked");  // locked since the start
  EXPECT_EQ(ls_code(), "ok");                  // listing reads the plain file
  EXPECT_EQ(exec_code("loc1"), "ok");

  // A change without the master password, or with a wrong one, changes nothing.
  std::string plain_before = read_file(scene.data_dir + "/hosts.json");
  EXPECT_NE(admin({"host", "set", ssh1, "--address", "10.9.9.9"}).exit_code, 0);
  EXPECT_NE(admin({"host", "set", ssh1, "--address", "10.9.9.9", "--password-fd", "0"},
                  with_fd("not-the-password"))
                .exit_code,
            0);
  EXPECT_EQ(read_file(scene.data_dir + "/hosts.json"), plain_before);

  auto [unlocked, shown] = run_on_terminal(scene.env, {"unlock"}, {std::string(master)});
  EXPECT_EQ(unlocked, 0) << shown;
  EXPECT_EQ(shown.find(master), std::string::npos) << "the password was echoed";
  // Open: past the vault to the connection, refused at the host's closed port.
  EXPECT_EQ(exec_code(ssh1), "connect_failed");
  EXPECT_EQ(exec_code(bare), "credential_missing");
  EXPECT_EQ(exec_code(early_id), "credential_missing");  // taken into the vault by init

  ASSERT_EQ(admin({"lock"}).exit_code, 0);
  EXPECT_EQ(exec_code(ssh1), "vault_locked");
  ASSERT_EQ(admin({"lock", "--all"}).exit_code, 0);
  EXPECT_NE(admin({"status", "--json"}).out.find(R"("vault":"locked","appLocked":true)"),
            std::string::npos)
      << outputs;
  EXPECT_EQ(ls_code(), "app_locked");
  EXPECT_EQ(exec_code("loc1"), "app_locked");
  ASSERT_EQ(admin({"unlock", "--password-fd", "0"}, with_fd(master)).exit_code, 0) << outputs;
  EXPECT_EQ(ls_code(), "ok");

  // The plain file edited behind the service's back: refused, and said in the log.
  std::string plain = read_file(scene.data_dir + "/hosts.json");
  auto at = plain.find("127.0.0.1", plain.find("\"" + ssh1 + "\""));
  ASSERT_NE(at, std::string::npos);
  plain.replace(at, 9, "127.0.0.2");
  std::ofstream(scene.data_dir + "/hosts.json") << plain;
  RunResult edited = scene.pendrel({"exec", ssh1, "true"});
  EXPECT_NE(edited.out.find("bad_request"), std::string::npos) << edited.out;
  EXPECT_NE(edited.out.find("edited outside pendrel-desktop"), std::string::npos);
  EXPECT_NE(service.stderr_text().find("differs from the vault"), std::string::npos);

  service.stop();
  std::string everything = outputs + service.stderr_text();
  for (const auto& entry : fs::recursive_directory_iterator(scene.home.path()))
    if (entry.is_regular_file()) everything += read_file(entry.path().string());
  EXPECT_EQ(everything.find(master), std::string::npos);
  EXPECT_EQ(everything.find(host_secret), std::string::npos);
}

TEST_F(Vault, LocksItselfAfterTheIdleTime) {
  scene.env["PENDREL_DESKTOP_TEST_IDLE_LOCK_SECONDS"] = "3";
  init_vault();
  std::string id = add_ssh_host("agent", {"--agent", "on"}, with_fd(master));
  DesktopService service(scene.env, scene.data_dir);
  ASSERT_TRUE(service.ready()) << service.stderr_text();
  ASSERT_EQ(admin({"unlock", "--password-fd", "0"}, with_fd(master)).exit_code, 0) << outputs;
  EXPECT_EQ(exec_code(id), "connect_failed");
  // Watched in the log: a request would count as use and keep it open.
  for (int tries = 0; tries < 100; ++tries) {
    if (service.stderr_text().find("locked after 3 s unused") != std::string::npos) break;
    std::this_thread::sleep_for(100ms);
  }
  EXPECT_NE(service.stderr_text().find("locked after 3 s unused"), std::string::npos);
  EXPECT_EQ(exec_code(id), "vault_locked");
}

TEST_F(Vault, LockAllHoldsOverARestartUntilTheNextUnlock) {
  init_vault();
  {
    DesktopService service(scene.env, scene.data_dir);
    ASSERT_TRUE(service.ready()) << service.stderr_text();
    ASSERT_EQ(admin({"lock", "--all"}).exit_code, 0) << outputs;
  }
  {
    DesktopService restarted(scene.env, scene.data_dir);
    ASSERT_TRUE(restarted.ready()) << restarted.stderr_text();
    EXPECT_EQ(ls_code(), "app_locked");
    EXPECT_EQ(exec_code("loc1"), "app_locked");
    ASSERT_EQ(admin({"unlock", "--password-fd", "0"}, with_fd(master)).exit_code, 0) << outputs;
    EXPECT_EQ(ls_code(), "ok");
    // The idle time is the vault's, and changes with the master password only.
    EXPECT_NE(admin({"autolock", "5"}).exit_code, 0);
    EXPECT_EQ(admin({"autolock", "5", "--password-fd", "0"}, with_fd(master)).exit_code, 0)
        << outputs;
    EXPECT_NE(admin({"status", "--json"}).out.find(R"("idleLockSeconds":300)"), std::string::npos)
        << outputs;
  }
  {
    DesktopService unlocked_before(scene.env, scene.data_dir);
    ASSERT_TRUE(unlocked_before.ready()) << unlocked_before.stderr_text();
    EXPECT_EQ(ls_code(), "ok");
  }
  // Given while no service runs, it is what the next one starts with.
  ASSERT_EQ(admin({"lock", "--all"}).exit_code, 0) << outputs;
  DesktopService next(scene.env, scene.data_dir);
  ASSERT_TRUE(next.ready()) << next.stderr_text();
  EXPECT_EQ(ls_code(), "app_locked");
}

TEST_F(Vault, DamagedVaultIsKeyLostAndLeftAlone) {
  init_vault();
  std::string id = add_ssh_host("ssh1", {"--agent", "on"}, with_fd(master));
  std::string path = scene.data_dir + "/vault.bin";
  std::string bytes = read_file(path);
  bytes[bytes.size() / 2] ^= 0x01;
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  // LD_LIBRARY_PATH could load foreign code into the process holding the secrets.
  scene.env["LD_LIBRARY_PATH"] = "";
  DesktopService service(scene.env, scene.data_dir);
  ASSERT_TRUE(service.ready()) << service.stderr_text();
  RunResult refused = admin({"unlock", "--password-fd", "0"}, with_fd(master));
  EXPECT_NE(refused.exit_code, 0);
  EXPECT_NE(refused.err.find("LD_LIBRARY_PATH"), std::string::npos) << refused.err;
  EXPECT_EQ(exec_code("loc1"), "ok");  // what needs no secret is still served
  scene.env.erase("LD_LIBRARY_PATH");
  service.stop();

  // The body's damage shows once the right password fails to open it.
  DesktopService clean(scene.env, scene.data_dir);
  ASSERT_TRUE(clean.ready()) << clean.stderr_text();
  EXPECT_NE(admin({"unlock", "--password-fd", "0"}, with_fd(master)).exit_code, 0);
  EXPECT_EQ(exec_code(id), "vault_key_lost");
  EXPECT_NE(clean.stderr_text().find(path), std::string::npos);
  EXPECT_EQ(read_file(path), bytes);
}

// Forks a child that becomes `user` (when given) and runs `body`, whose value is its exit code.
template <typename Body>
pid_t as_user(const std::optional<SshdTestUser>& user, Body body) {
  pid_t child = ::fork();
  if (child != 0) return child;
  if (user &&
      (::setgroups(0, nullptr) != 0 || ::setgid(user->gid) != 0 || ::setuid(user->uid) != 0))
    _exit(125);
  _exit(body());
}

int exit_code_of(pid_t child) {
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Another process of the service's own user cannot read its memory. Run as root, both the
// service and the reader become an unprivileged account (root could read it anyway).
TEST(VaultMemory, AnotherProcessOfTheSameUserCannotReadTheServiceMemory) {
  if (desktop_binary().empty()) GTEST_SKIP() << "PENDREL_DESKTOP_BIN is not set";
  std::optional<SshdTestUser> user;
  if (::geteuid() == 0) user = ensure_sshd_test_user();
  DesktopScene scene;
  fs::create_directories(scene.data_dir);
  if (user) {
    for (const auto& entry : fs::recursive_directory_iterator(scene.home.path()))
      ASSERT_EQ(::chown(entry.path().c_str(), user->uid, user->gid), 0);
    ASSERT_EQ(::chown(scene.home.path().c_str(), user->uid, user->gid), 0);
  }
  // A build under a directory closed to others (such as /root) cannot be run as that user.
  std::string program = desktop_binary();
  if (user && exit_code_of(as_user(user, [&] { return ::access(program.c_str(), X_OK); })) != 0)
    GTEST_SKIP() << user->name << " cannot run " << program;
  ExecEnvironment envp(scene.env);
  pid_t service = as_user(user, [&] {
    char serve[] = "serve";
    char* argv[] = {program.data(), serve, nullptr};
    int quiet = ::open("/dev/null", O_RDWR);
    ::dup2(quiet, 1);
    ::dup2(quiet, 2);
    ::execve(argv[0], argv, envp.data());
    return 127;
  });
  bool ready = wait_for_socket(scene.data_dir);
  // The front, and the service inside its broker that holds the secrets.
  pid_t core = listener_pid(scene.data_dir + "/run/core.sock");
  std::vector<std::string> mems;
  for (pid_t pid : {service, core})
    mems.push_back("/proc/" + std::to_string(pid) + "/mem");
  // 0: refused as it must be; 1: the memory could be opened.
  std::vector<int> readers;
  for (const auto& mem : mems) {
    readers.push_back(exit_code_of(as_user(user, [&] {
      int fd = ::open(mem.c_str(), O_RDONLY);
      return fd < 0 && (errno == EACCES || errno == EPERM) ? 0 : 1;
    })));
  }
  ::kill(service, SIGTERM);
  EXPECT_EQ(exit_code_of(service), 0);
  ASSERT_TRUE(ready);
  ASSERT_GT(core, 0);
  for (std::size_t i = 0; i < mems.size(); ++i)
    EXPECT_EQ(readers[i], 0) << mems[i] << " could be opened by another process of the same user";
}

}  // namespace
}  // namespace pendrel::testing
