// The person's commands of the real pendrel-desktop binary, in a temporary data directory.
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "support/run_pendrel.h"
#include "support/temp_dir.h"

namespace pendrel::testing {
namespace {

std::string desktop_binary() {
  const char* path = std::getenv("PENDREL_DESKTOP_BIN");
  return path ? path : "";
}

class AdminTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (desktop_binary().empty()) GTEST_SKIP() << "PENDREL_DESKTOP_BIN is not set";
  }

  std::map<std::string, std::string> env() const {
    auto environment = base_environment(home_.path());
    environment["PENDREL_DATA_DIR"] = data_dir();
    return environment;
  }

  RunResult run(std::vector<std::string> args) const {
    RunOptions options;
    options.program = desktop_binary();
    options.args = std::move(args);
    options.env = env();
    return run_pendrel(options);
  }

  // Runs a command that must succeed and gives its standard output.
  std::string ok(std::vector<std::string> args) const {
    RunResult result = run(args);
    std::string shown;
    for (const auto& arg : args)
      shown += arg + " ";
    EXPECT_EQ(result.exit_code, 0) << shown << result.err;
    return result.out;
  }

  std::string data_dir() const { return home_ / "data"; }
  std::string file(std::string_view name) const {
    return read_file(data_dir() + "/" + std::string(name));
  }

  TempDir home_;
};

// The default of --user: the login name of the real user.
std::string login_name() {
  const passwd* entry = ::getpwuid(::getuid());
  return entry ? entry->pw_name : "";
}

mode_t mode_of(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

std::string trimmed(std::string text) {
  while (!text.empty() && text.back() == '\n')
    text.pop_back();
  return text;
}

TEST_F(AdminTest, AddsChangesListsShowsAndRemovesHosts) {
  std::string web = trimmed(
      ok({"host", "add", "web-1", "--address", "10.0.0.5", "--tag", "prod", "--cli", "on"}));
  EXPECT_EQ(web.size(), 8u);
  EXPECT_EQ(web.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789"), std::string::npos);
  std::string db_json = ok({"host", "add", "db", "--address=db.local", "--port", "2222", "--user",
                            "deploy", "--protocol", "local", "--json"});
  ASSERT_EQ(db_json.size(), std::string(R"({"id":"12345678"})").size() + 1) << db_json;
  std::string db = db_json.substr(7, 8);

  EXPECT_EQ(mode_of(data_dir()), 0700u);
  EXPECT_EQ(mode_of(data_dir() + "/hosts.json"), 0600u);

  EXPECT_EQ(ok({"host", "show", "web-1", "--json"}),
            R"({"id":")" + web + R"(","name":"web-1","address":"10.0.0.5","port":22,"username":")" +
                login_name() +
                R"(",)"
                R"("protocol":"SSH","tags":["prod"],"cli":true,"legacyAlgorithms":false,)"
                R"("connectTimeoutSec":10,"hasCredential":false,"hasCliLogin":false})"
                "\n");
  ok({"host", "set", db, "--name", "db-2", "--tag", "a", "--tag", "b", "--cli", "on"});
  ok({"host", "set", "web-1", "--no-tags", "--cli", "off", "--legacy", "on", "--connect-timeout",
      "5", "--max-duration", "30"});
  EXPECT_EQ(
      ok({"host", "list", "--json"}),
      R"([{"id":")" + web + R"(","name":"web-1","address":"10.0.0.5","port":22,"username":")" +
          login_name() +
          R"(",)"
          R"("protocol":"SSH","tags":[],"cli":false,"legacyAlgorithms":true,)"
          R"("connectTimeoutSec":5,"maxDurationSec":30,"hasCredential":false,"hasCliLogin":false},)"
          R"({"id":")" +
          db +
          R"(","name":"db-2","address":"db.local","port":2222,"username":"deploy",)"
          R"("protocol":"LOCAL","tags":["a","b"],"cli":true,"legacyAlgorithms":false,)"
          R"("connectTimeoutSec":10,"hasCredential":false,"hasCliLogin":false}])"
          "\n");
  EXPECT_NE(ok({"host", "show", "web-1"})
                .find("legacy devices: on\nconnect timeout: 5 s\nmax duration: 30 s\n"),
            std::string::npos);
  ok({"host", "set", "web-1", "--max-duration", "off"});
  EXPECT_EQ(ok({"host", "show", "web-1", "--json"}).find("maxDurationSec"), std::string::npos);
  std::string table = ok({"host", "list"});
  EXPECT_NE(table.find("db-2"), std::string::npos) << table;
  EXPECT_NE(table.find("a,b"), std::string::npos) << table;

  EXPECT_EQ(trimmed(ok({"host", "remove", "db-2"})), db);
  EXPECT_EQ(run({"host", "show", db}).exit_code, 2);
  EXPECT_EQ(ok({"host", "list", "--json"}).find(db), std::string::npos);
}

TEST_F(AdminTest, RefusesBadInputAndLeavesTheFileAlone) {
  ok({"host", "add", "twin", "--address", "a.example"});
  ok({"host", "add", "twin", "--address", "b.example"});
  ok({"host", "add", "solo", "--address", "c.example"});
  std::string before = file("hosts.json");
  struct Case {
    std::vector<std::string> args;
    int exit_code;
    std::string_view message;
  } cases[] = {
      {{"host", "add", "x"}, 1, "needs --address"},
      {{"host", "add", "--address", "h"}, 1, "needs a NAME"},
      {{"host", "add", "x", "--address", "h", "--port", "0"}, 1, "--port"},
      {{"host", "add", "x", "--address", "h", "--port", "65536"}, 1, "--port"},
      {{"host", "add", "x", "--address", "h;reboot"}, 1, "--address"},
      {{"host", "add", "x", "--address", "h", "--user", "a;b"}, 1, "--user"},
      {{"host", "add", "x", "--address", "h", "--user", "DOM\\bob"}, 1, "--user"},
      {{"host", "add", "x", "--address", "h", "--user", "-x"}, 1, "--user"},
      {{"host", "add", "x", "--address", "h", "--user", "o'brien"}, 1, "--user"},
      {{"host", "add", "x", "--address", "h", "--protocol", "telnet"}, 1, "--protocol"},
      {{"host", "add", "x", "--address", "h", "--cli", "yes"}, 1, "--cli"},
      {{"host", "add", "x", "--address", "h", "--legacy", "yes"}, 1, "--legacy takes on or off"},
      {{"host", "add", "x", "--address", "h", "--connect-timeout", "0"}, 1, "from 1 to 3600"},
      {{"host", "set", "solo", "--connect-timeout", "3601"}, 1, "from 1 to 3600, not 3601"},
      {{"host", "set", "solo", "--max-duration", "0"}, 1, "--max-duration takes SECONDS"},
      {{"host", "set", "solo", "--max-duration", "-5"}, 1, "or off, not -5"},
      {{"host", "add", "x", "--address", "h", "--tag", "two words"}, 1, "--tag"},
      {{"host", "add", "x", "y", "--address", "h"}, 1, "unexpected argument y"},
      {{"host", "add", "x", "--address", "h", "--bogus"}, 1, "unknown option --bogus"},
      {{"host", "set", "nobody", "--port", "23"}, 2, "no host"},
      {{"host", "set", "twin", "--port", "23"}, 1, "several hosts"},
      {{"host", "set", "solo", "--name", "-n"}, 1, "--name"},
      {{"host", "remove", "nobody"}, 2, "no host"},
      {{"host", "show"}, 1, "needs a HOST"},
      {{"host", "frob"}, 1, "unknown host command"},
      {{"cli", "maybe"}, 1, "on or off"},
      {{"autostart"}, 1, "on or off"},
      {{"log", "-n", "x"}, 1, "-n"},
      {{"frobnicate"}, 1, "unknown command"},
  };
  for (const auto& c : cases) {
    RunResult result = run(c.args);
    std::string shown;
    for (const auto& arg : c.args)
      shown += arg + " ";
    EXPECT_EQ(result.exit_code, c.exit_code) << shown;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << shown << "-> " << result.err;
    EXPECT_EQ(result.out, "") << shown;
  }
  EXPECT_EQ(file("hosts.json"), before);

  write_file(data_dir() + "/hosts.json", R"({"version":1,"hosts":[{"id":"a1"}]})");
  RunResult broken = run({"host", "list"});
  EXPECT_EQ(broken.exit_code, 1);
  EXPECT_NE(broken.err.find("hosts.json: host 1: has no \"name\""), std::string::npos)
      << broken.err;
}

TEST_F(AdminTest, SwitchesWriteTheSettingsFiles) {
  write_file(data_dir() + "/cli-launch.json", R"({"autoStart":true,"window":{"w":3}})");
  struct Case {
    std::vector<std::string> args;
    std::string_view file;
    std::string content;
  } cases[] = {
      {{"cli", "off"}, "settings.json", "{\"version\":1,\"externalCli\":false}\n"},
      {{"cli", "on"}, "settings.json", "{\"version\":1,\"externalCli\":true}\n"},
      {{"autostart", "off"}, "cli-launch.json", "{\"autoStart\":false,\"window\":{\"w\":3}}\n"},
      {{"autostart", "on"}, "cli-launch.json", "{\"autoStart\":true,\"window\":{\"w\":3}}\n"},
  };
  for (const auto& c : cases) {
    ok(c.args);
    EXPECT_EQ(file(c.file), c.content) << c.args[0] << " " << c.args[1];
    EXPECT_EQ(mode_of(data_dir() + "/" + std::string(c.file)), 0600u);
  }
}

TEST_F(AdminTest, LogPrintsTheLastLines) {
  write_file(data_dir() + "/logs/audit.jsonl", "{\"n\":1}\n{\"n\":2}\n{\"n\":3}\n{\"n\":4");
  EXPECT_EQ(ok({"log", "-n", "2"}), "{\"n\":2}\n{\"n\":3}\n");  // never a half-written line
  EXPECT_EQ(ok({"log"}), "{\"n\":1}\n{\"n\":2}\n{\"n\":3}\n");
  EXPECT_EQ(ok({"log", "-n", "0"}), "");
}

// `pendrel-desktop serve` in the test's data directory, ended when the test ends.
class RunningService {
 public:
  explicit RunningService(const std::map<std::string, std::string>& env) {
    ExecEnvironment envp(env);
    std::string program = desktop_binary();
    char serve[] = "serve";
    char* argv[] = {program.data(), serve, nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    EXPECT_EQ(::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, envp.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
  }
  ~RunningService() {
    if (pid_ > 0 && !reaped_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  RunningService(const RunningService&) = delete;
  RunningService& operator=(const RunningService&) = delete;

  [[nodiscard]] pid_t pid() const { return pid_; }
  // True once the process has exited (reaped here), without waiting.
  bool exited() {
    if (!reaped_ && ::waitpid(pid_, nullptr, WNOHANG) == pid_) reaped_ = true;
    return reaped_;
  }

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
};

TEST_F(AdminTest, StatusAndStopFollowTheRunningService) {
  ok({"host", "add", "here", "--protocol", "LOCAL"});
  RunResult stopped = run({"status", "--json"});
  EXPECT_EQ(stopped.exit_code, 3);
  EXPECT_EQ(stopped.out, R"({"running":false,"socket":")" + data_dir() +
                             R"(/run/cli.sock","hosts":1,"externalCli":true})"
                             "\n");
  EXPECT_EQ(run({"stop"}).exit_code, 0);  // nothing to stop is no failure

  RunningService service(env());
  RunResult status;
  for (int attempt = 0; attempt < 200; ++attempt) {
    status = run({"status", "--json"});
    // Running from the lock alone, before the socket answers, has no pid yet.
    if ((status.exit_code == 0 && status.out.find("\"pid\"") != std::string::npos) ||
        service.exited())
      break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_EQ(status.exit_code, 0) << status.out << status.err;
  std::string pid = "\"pid\":" + std::to_string(service.pid()) + ",";
  EXPECT_NE(status.out.find(pid), std::string::npos) << status.out;
  EXPECT_NE(status.out.find("\"version\":\""), std::string::npos) << status.out;
  EXPECT_NE(status.out.find("\"hosts\":1,"), std::string::npos) << status.out;

  // With command-line access off the handshake is refused; the pid still comes through.
  ok({"cli", "off"});
  std::string refused = ok({"status"});
  EXPECT_NE(refused.find("is running (pid " + std::to_string(service.pid()) + ")"),
            std::string::npos)
      << refused;

  ok({"stop"});
  // `stop` returns once the service is gone; only the reaping is left to its parent.
  for (int attempt = 0; attempt < 100 && !service.exited(); ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(service.exited());
  EXPECT_EQ(run({"status"}).exit_code, 3);
}

TEST_F(AdminTest, HelpListsTheCommands) {
  for (std::string spelling : {"help", "--help", "-h"}) {
    std::string text = ok({spelling});
    for (std::string_view command :
         {"host add", "host set", "host remove", "host list", "host show", "cli on|off",
          "autostart on|off", "status", "stop", "log"}) {
      EXPECT_NE(text.find(command), std::string::npos) << spelling << " lacks " << command;
    }
  }
}

}  // namespace
}  // namespace pendrel::testing
