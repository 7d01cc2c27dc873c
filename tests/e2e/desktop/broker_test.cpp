// The broker through the real programs: the person's commands and pendrel's requests reach
// the person's state in the broker (the vault, the hosts, the audit) while LOCAL work still
// runs as the person; a listener in the broker's place learns nothing; a broker with a library
// that hid itself will not unlock. As root the broker runs as an account of its own, and the
// state it keeps is that account's alone.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <thread>

#include "desktop/shared/link/descriptor_frames.h"
#include "desktop_scene.h"
#include "protocol/channel.h"
#include "protocol/unique_fd.h"
#include "support/second_person.h"
#include "support/test_broker.h"

namespace pendrel::testing {
namespace {

using namespace std::chrono_literals;

constexpr std::string_view master = "broker-master-password-3";
class Broker : public ::testing::Test {
 protected:
  void SetUp() override {
    if (desktop_binary().empty()) GTEST_SKIP() << "PENDREL_DESKTOP_BIN is not set";
    account = test_broker_account();
    scene.env["PENDREL_DESKTOP_TEST_KDF"] = "interactive";
    scene.env["PENDREL_BROKER_SOCKET"] = socket;
    scene.env["PENDREL_BROKER_ACCOUNT"] = account;
  }

  void start_broker(const std::map<std::string, std::string>& extra = {}) {
    auto env = base_environment(scene.home.path());
    env["PENDREL_DESKTOP_TEST_KDF"] = "interactive";
    broker.emplace(scene.home.path(), env, extra);
    ASSERT_TRUE(broker->ready()) << "the broker did not listen on " << socket;
    state = broker->state();
  }

  RunResult admin(std::vector<std::string> args, std::string input = {}) {
    RunResult result = run_pendrel({.args = std::move(args),
                                    .env = scene.env,
                                    .stdin_data = std::move(input),
                                    .program = desktop_binary()});
    outputs += result.out + result.err;
    return result;
  }

  [[nodiscard]] std::string person_state() const { return broker->state_of(::getuid()); }

  DesktopScene scene;
  std::string socket = scene.home / "broker/broker.sock";
  std::string state;
  std::string account;
  std::optional<TestBroker> broker;
  std::string outputs;
};

TEST_F(Broker, KeepsThePersonsStateAndRunsLocalWorkAsThePerson) {
  // A vault made in the data directory before there was a broker, with a LOCAL host in it.
  auto alone = scene.env;
  alone.erase("PENDREL_BROKER_SOCKET");
  const std::string once = std::string(master) + "\n";
  for (auto args : {std::vector<std::string>{"init", "--password-fd", "0"},
                    std::vector<std::string>{"host", "add", "here", "--protocol", "LOCAL", "--cli",
                                             "on", "--password-fd", "0"}}) {
    RunResult made = run_pendrel(
        {.args = args, .env = alone, .stdin_data = once + once, .program = desktop_binary()});
    ASSERT_EQ(made.exit_code, 0) << made.err;
  }
  start_broker();
  // Moved into the broker with its master password; a wrong one moves nothing.
  EXPECT_EQ(admin({"init", "--import", "--password-fd", "0"}, "wrong\n").exit_code, 1);
  EXPECT_TRUE(std::filesystem::exists(scene.data_dir + "/vault.bin"));
  ASSERT_EQ(admin({"init", "--import", "--password-fd", "0"}, once).exit_code, 0) << outputs;
  EXPECT_FALSE(std::filesystem::exists(scene.data_dir + "/hosts.json"));
  ASSERT_EQ(admin({"unlock", "--password-fd", "0"}, once).exit_code, 0) << outputs;
  // The person's data directory holds no vault and no host: the broker's state does.
  EXPECT_FALSE(std::filesystem::exists(scene.data_dir + "/vault.bin"));
  EXPECT_TRUE(std::filesystem::exists(person_state() + "/vault.bin"));
  struct stat status {};
  ASSERT_EQ(::stat(person_state().c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0700u);
  EXPECT_EQ(status.st_uid, ::getpwnam(account.c_str())->pw_uid);

  DesktopService front(scene.env, scene.data_dir);
  ASSERT_TRUE(front.ready()) << front.stderr_text();
  // Nothing to unlock in the front, so nothing there to stand in for.
  EXPECT_FALSE(std::filesystem::exists(scene.data_dir + "/run/admin.sock"));
  // status shows the person's front, and the vault the broker holds.
  RunResult shown = admin({"status"});
  EXPECT_EQ(shown.exit_code, 0) << outputs;
  EXPECT_NE(shown.out.find("(pid " + std::to_string(front.pid()) + ")"), std::string::npos)
      << shown.out;
  EXPECT_NE(shown.out.find("socket: " + scene.data_dir + "/run/cli.sock"), std::string::npos)
      << shown.out;
  EXPECT_NE(shown.out.find("vault: unlocked"), std::string::npos) << shown.out;
  RunResult listed = scene.pendrel({"ls"});
  EXPECT_EQ(listed.exit_code, 0) << listed.out << listed.err;
  EXPECT_NE(listed.out.find("here"), std::string::npos) << listed.out;
  // The command runs as the person, in the person's home, not as the broker's account.
  RunResult ran = scene.pendrel({"exec", "here", "id -u; pwd"});
  EXPECT_EQ(ran.exit_code, 0) << ran.out << ran.err;
  EXPECT_NE(ran.out.find(std::to_string(::getuid()) + "\\n" + scene.home.path()), std::string::npos)
      << ran.out;
  RunResult blocked = scene.pendrel({"exec", "here", "exit 0; rm -rf /"});
  EXPECT_NE(blocked.exit_code, 0) << blocked.out;

  // The audit is the broker's, with the front's work and the rule's refusal in it.
  std::string audit = read_file(person_state() + "/logs/audit.jsonl");
  EXPECT_NE(audit.find(R"("kind":"exec")"), std::string::npos) << audit;
  EXPECT_NE(audit.find(R"("exitCode":0)"), std::string::npos) << audit;
  EXPECT_NE(audit.find(R"("rule":)"), std::string::npos) << audit;
  EXPECT_EQ(read_file(scene.data_dir + "/logs/audit.jsonl"), "");
}

TEST_F(Broker, AListenerInItsPlaceGetsNothing) {
  // Whatever listens where the broker should is served by another account than the expected
  // one: the person's command refuses before it sends a byte (and before it reads its input).
  ::signal(SIGPIPE, SIG_IGN);
  if (::geteuid() != 0) scene.env["PENDREL_BROKER_ACCOUNT"] = "root";
  std::filesystem::create_directories(scene.home / "broker");
  int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un name{};
  name.sun_family = AF_UNIX;
  std::strncpy(name.sun_path, socket.c_str(), sizeof name.sun_path - 1);
  ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&name), sizeof name), 0);
  ASSERT_EQ(::listen(listener, 4), 0);
  for (auto args : {std::vector<std::string>{"unlock", "--password-fd", "0"},
                    std::vector<std::string>{"console"}}) {
    RunResult result = admin(args, std::string(master) + "\n");
    EXPECT_EQ(result.exit_code, 3) << result.err;
    EXPECT_NE(result.err.find("nothing was sent"), std::string::npos) << result.err;
    int accepted = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    ASSERT_GE(accepted, 0);
    char byte;
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(::recv(accepted, &byte, 1, 0), 0) << "the command sent something";
    ::close(accepted);
  }
  // Nor does the front pass pendrel's request on to it.
  DesktopService front(scene.env, scene.data_dir);
  ASSERT_TRUE(front.ready()) << front.stderr_text();
  RunResult refused = scene.pendrel({"ls"});
  EXPECT_NE(refused.out.find("nothing was sent"), std::string::npos) << refused.out;
  int accepted = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  ASSERT_GE(accepted, 0);
  char byte;
  EXPECT_EQ(::recv(accepted, &byte, 1, 0), 0) << "the front sent something";
  ::close(accepted);
  ::close(listener);
  // The front answers pendrel with how to start the broker when none answers.
  ::unlink(socket.c_str());
  RunResult listed = scene.pendrel({"ls"});
  EXPECT_NE(listed.out.find("app_not_running"), std::string::npos) << listed.out;
  EXPECT_NE(listed.out.find("pendrel-desktop broker"), std::string::npos) << listed.out;
}

// For a child about to run a person's command: a mount namespace of its own in which the
// account pendrel exists (a copy of the password database, `passwd`, bound over /etc/passwd)
// and /run is empty, so that nothing outside the child ever sees the account.
std::function<bool()> with_service_account(const std::string& passwd) {
  return [passwd] {
    return ::unshare(CLONE_NEWNS) == 0 &&
           ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           ::mount(passwd.c_str(), "/etc/passwd", nullptr, MS_BIND, nullptr) == 0 &&
           ::mount("pendrel-test-run", "/run", "tmpfs", 0, "mode=0755") == 0;
  };
}

TEST_F(Broker, NeverTakesThePersonsOwnUidWhileTheAccountExists) {
  // An agent of the person's own puts up a listener where a personal broker would be, and
  // names it in the environment: while the account pendrel exists the person's command talks
  // to no process of the person's uid, whatever account the environment names, and falls back
  // to no broker of the data directory's.
  if (::geteuid() != 0) GTEST_SKIP() << "making the account exist, and being a person, needs root";
  Person person = ensure_second_person();
  if (!can_run_as(person, desktop_binary()))
    GTEST_SKIP() << "the build tree is closed to " << person.name;
  std::string passwd = scene.home / "passwd";
  uid_t id = 990;  // a system account's uid that nobody has
  while (::getpwuid(id) != nullptr)
    --id;
  write_file(passwd, read_file("/etc/passwd") + "pendrel:x:" + std::to_string(id) + ":" +
                         std::to_string(id) + "::/nonexistent:/usr/sbin/nologin\n");
  ::chmod(passwd.c_str(), 0644);
  ::chmod(scene.home.path().c_str(), 0711);  // the person's home is inside it
  std::string home = scene.home / "person";
  std::string data_dir = home + "/data";
  std::filesystem::create_directories(data_dir + "/run");
  for (const std::string& dir : {home, data_dir, data_dir + "/run"}) {
    ASSERT_EQ(::chown(dir.c_str(), person.uid, person.gid), 0);
    ::chmod(dir.c_str(), 0700);
  }
  std::string own = data_dir + "/run/broker.sock";
  UniqueFd listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  sockaddr_un name{};
  name.sun_family = AF_UNIX;
  std::strncpy(name.sun_path, own.c_str(), sizeof name.sun_path - 1);
  // Listening as the person makes the person's uid the one its callers see.
  ASSERT_EQ(run_step_as(person,
                        [&] {
                          return ::bind(listener.get(), reinterpret_cast<const sockaddr*>(&name),
                                        sizeof name) == 0 &&
                                         ::listen(listener.get(), 4) == 0
                                     ? 0
                                     : 1;
                        }),
            0);

  struct Case {
    const char* what;
    std::map<std::string, std::string> broker;  // what the environment names
    std::vector<std::string> args;
    const char* said;
    bool connects;  // whether the command gets as far as the listener
  };
  const Case cases[] = {
      {"named, for the person's own account",
       {{"PENDREL_BROKER_SOCKET", own}, {"PENDREL_BROKER_ACCOUNT", person.name}},
       {"unlock", "--password-fd", "0"},
       "while the account pendrel exists; nothing was sent",
       true},
      {"not named: the installed broker, not the data directory's",
       {},
       {"host", "add", "here", "--protocol", "LOCAL", "--password-fd", "0"},
       "/run/pendrel/broker.sock",
       false},
  };
  auto mounted = with_service_account(passwd);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto env = DesktopScene::with_data_dir(base_environment(home), data_dir);
    env.insert(c.broker.begin(), c.broker.end());
    auto [code, shown] =
        run_as(person, desktop_binary(), c.args, env, std::string(master) + "\n", mounted);
    if (code == 125) GTEST_SKIP() << "no mount namespace may be made here";
    EXPECT_EQ(code, 3) << shown;
    EXPECT_NE(shown.find(c.said), std::string::npos) << shown;
    UniqueFd accepted(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    EXPECT_EQ(accepted.valid(), c.connects);
    char byte;
    if (accepted) {
      EXPECT_EQ(::recv(accepted.get(), &byte, 1, 0), 0) << "the command sent something";
    }
  }
  EXPECT_FALSE(std::filesystem::exists(data_dir + "/hosts.json"));
  EXPECT_FALSE(std::filesystem::exists(data_dir + "/vault.bin"));
}

TEST_F(Broker, OpensNoFileAPersonNames) {
  // A client of its own making may name any file, in either spelling of an option: the broker
  // takes files only open, as the person's command passes them, and refuses a name, which it
  // would open with its own rights (another person's state among them).
  start_broker();
  const std::string once = std::string(master) + "\n";
  ASSERT_EQ(admin({"init", "--password-fd", "0"}, once + once).exit_code, 0) << outputs;
  sockaddr_un name{};
  name.sun_family = AF_UNIX;
  std::strncpy(name.sun_path, socket.c_str(), sizeof name.sun_path - 1);
  for (const char* key : {R"("--key","/etc/hostname")", R"("--key=/etc/hostname")"}) {
    SCOPED_TRACE(key);
    UniqueFd client(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    ASSERT_EQ(::connect(client.get(), reinterpret_cast<const sockaddr*>(&name), sizeof name), 0);
    int password[2], errors[2];
    ASSERT_EQ(::pipe2(password, O_CLOEXEC), 0);
    ASSERT_EQ(::pipe2(errors, O_CLOEXEC), 0);
    ASSERT_EQ(::write(password[1], once.data(), once.size()), static_cast<ssize_t>(once.size()));
    ::close(password[1]);
    const std::string opening =
        R"({"kind":"command","args":["host","add","named","--address","127.0.0.1",)" +
        std::string(key) + R"(,"--password-fd","0"],"descriptors":[0,2]})";
    int passed[] = {password[0], errors[1]};
    ASSERT_TRUE(desktop::write_frame_with_descriptors(client.get(), opening, passed));
    ::close(password[0]);
    ::close(errors[1]);
    auto answer = read_answer_frame(client.get());
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(answer->view(), R"({"exit":1})");
    client.reset();
    std::string said;
    char buffer[512];
    for (ssize_t got; (got = ::read(errors[0], buffer, sizeof buffer)) > 0;)
      said.append(buffer, static_cast<std::size_t>(got));
    ::close(errors[0]);
    EXPECT_NE(said.find("takes a file the command opened and passed"), std::string::npos) << said;
  }
  EXPECT_EQ(admin({"host", "list"}).out.find("named"), std::string::npos);
}

TEST_F(Broker, WillNotUnlockWithALibraryThatHidItself) {
  const char* library = std::getenv("PENDREL_TEST_PRELOAD");
  if (library == nullptr) GTEST_SKIP() << "PENDREL_TEST_PRELOAD is not set";
  // Under the sanitizers, the preloaded library comes before their runtime.
  start_broker({{"LD_PRELOAD", library}, {"ASAN_OPTIONS", "verify_asan_link_order=0"}});
  ASSERT_EQ(
      admin({"init", "--password-fd", "0"}, std::string(master) + "\n" + std::string(master) + "\n")
          .exit_code,
      0)
      << outputs;
  RunResult unlocked = admin({"unlock", "--password-fd", "0"}, std::string(master) + "\n");
  EXPECT_NE(unlocked.exit_code, 0) << unlocked.out;
  EXPECT_NE(unlocked.err.find("LD_PRELOAD"), std::string::npos) << unlocked.err;
}

TEST_F(Broker, KeepsPeopleApartAndTheirStateOutOfTheirReach) {
  if (::geteuid() != 0) GTEST_SKIP() << "acting as a second person needs root";
  Person other = ensure_second_person();
  if (!can_run_as(other, desktop_binary()) || !can_run_as(other, pendrel_binary()))
    GTEST_SKIP() << "the build tree is closed to " << other.name
                 << ": build where other accounts may enter to run this";
  start_broker();
  std::string other_home = scene.home / "other";
  std::filesystem::create_directories(other_home);
  ASSERT_EQ(::chown(other_home.c_str(), other.uid, other.gid), 0);
  auto other_env = DesktopScene::with_data_dir(base_environment(other_home), other_home + "/data");
  other_env["PENDREL_BROKER_SOCKET"] = socket;
  other_env["PENDREL_BROKER_ACCOUNT"] = account;
  other_env["PENDREL_DESKTOP_TEST_KDF"] = "interactive";
  // The front pendrel starts for the second person ends with the test, however it ends.
  HeadlessServiceGuard their_front(other_home + "/data");
  std::string twice = std::string(master) + "\n" + std::string(master) + "\n";

  ASSERT_EQ(admin({"init", "--password-fd", "0"}, twice).exit_code, 0) << outputs;
  ASSERT_EQ(admin({"host", "add", "mine", "--protocol", "LOCAL", "--password-fd", "0"},
                  std::string(master) + "\n")
                .exit_code,
            0)
      << outputs;
  auto [init_code, init_shown] =
      run_as(other, desktop_binary(), {"init", "--password-fd", "0"}, other_env, twice);
  ASSERT_EQ(init_code, 0) << init_shown;
  auto [add_code, add_shown] =
      run_as(other, desktop_binary(),
             {"host", "add", "theirs", "--protocol", "LOCAL", "--cli", "on", "--password-fd", "0"},
             other_env, std::string(master) + "\n");
  ASSERT_EQ(add_code, 0) << add_shown;

  RunResult mine = admin({"host", "list"});
  EXPECT_NE(mine.out.find("mine"), std::string::npos) << mine.out;
  EXPECT_EQ(mine.out.find("theirs"), std::string::npos) << mine.out;
  auto [list_code, theirs] = run_as(other, desktop_binary(), {"host", "list"}, other_env, "");
  EXPECT_EQ(list_code, 0) << theirs;
  EXPECT_NE(theirs.find("theirs"), std::string::npos) << theirs;
  EXPECT_EQ(theirs.find("mine"), std::string::npos) << theirs;
  // Added without --user, a host's login is the person's, not the broker account's.
  EXPECT_NE(theirs.find(" " + other.name + " "), std::string::npos) << theirs;
  EXPECT_EQ(theirs.find(account), std::string::npos) << theirs;

  // The person's work runs as the person, through the front pendrel starts for them: a file
  // only root may read is not theirs to copy.
  std::string secret = scene.home / "root-only.txt";
  write_file(secret, "root's");
  ::chmod(secret.c_str(), 0600);
  auto [up_code, up_shown] =
      run_as(other, pendrel_binary(), {"upload", "theirs", secret, other_home + "/copy.txt"},
             other_env, "");
  EXPECT_NE(up_shown.find(R"("error":"permission_denied")"), std::string::npos) << up_shown;
  EXPECT_FALSE(std::filesystem::exists(other_home + "/copy.txt"));
  (void)run_as(other, desktop_binary(), {"stop"}, other_env, "");

  // The person's own state is the broker account's alone: the person can neither list it, nor
  // read the vault, nor edit the plain listing, the settings or the audit.
  std::string their_state = state + "/" + std::to_string(other.uid);
  ASSERT_TRUE(std::filesystem::exists(their_state + "/vault.bin"));
  const std::pair<std::string, int> attempts[] = {
      {their_state, O_RDONLY | O_DIRECTORY},
      {their_state + "/vault.bin", O_RDONLY},
      {their_state + "/hosts.json", O_WRONLY},
      {their_state + "/settings.json", O_WRONLY | O_CREAT},
      {their_state + "/logs/audit.jsonl", O_WRONLY | O_APPEND},
  };
  for (const auto& [path, flags] : attempts) {
    int refused = run_step_as(other, [&] {
      int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0600);
      return fd < 0 && errno == EACCES ? 0 : 1;
    });
    EXPECT_EQ(refused, 0) << "the person opened " << path;
  }
}

}  // namespace
}  // namespace pendrel::testing
