// The service's life through the real programs: started by pendrel, one instance per data
// directory, a stale socket replaced, the marker when the socket cannot be opened, the clean
// stop on SIGTERM, the handshake refused while CLI access is off, and personal mode's broker,
// which the front starts as its child and which ends with it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "desktop_scene.h"

namespace pendrel::testing {
namespace {

namespace fs = std::filesystem;

TEST(ServiceLifecycle, PendrelStartsItAndTheNextCallFindsIt) {
  DesktopScene scene;
  write_hosts(scene.data_dir, "[" + local_host("loc1", "here") + "]");
  HeadlessServiceGuard service(scene.data_dir);

  RunResult first = scene.pendrel({"ls"});
  ASSERT_EQ(first.exit_code, 0) << first.out << first.err;
  EXPECT_NE(first.out.find(R"("id":"loc1")"), std::string::npos) << first.out;
  pid_t started = service.pid();
  ASSERT_GT(started, 0);

  RunResult second = scene.pendrel({"ls"});
  EXPECT_EQ(second.exit_code, 0) << second.err;
  EXPECT_EQ(service.pid(), started) << "the second call must reuse the running service";

  struct stat status {};
  for (const char* dir : {"/run", "/logs"}) {
    ASSERT_EQ(::stat((scene.data_dir + dir).c_str(), &status), 0) << dir;
    EXPECT_EQ(status.st_mode & 0777, 0700u) << dir;
  }
  ASSERT_EQ(::stat((scene.data_dir + "/run/cli.sock").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
  EXPECT_NE(read_file(scene.data_dir + "/logs/pendrel-desktop.log").find("listening on"),
            std::string::npos);
}

TEST(ServiceLifecycle, ASecondInstanceExitsAtOnce) {
  DesktopScene scene;
  DesktopService first(scene.env, scene.data_dir);
  ASSERT_TRUE(first.ready()) << first.stderr_text();
  TempDir other_err;
  DesktopService second(scene.env, other_err / "second", false);
  EXPECT_EQ(second.wait_for_exit(), 0);
  EXPECT_NE(second.stderr_text().find("already running"), std::string::npos)
      << second.stderr_text();
  EXPECT_EQ(scene.pendrel({"ls"}).exit_code, 0) << "the first one still serves";
}

TEST(ServiceLifecycle, AStaleSocketIsReplaced) {
  DesktopScene scene;
  fs::create_directories(scene.data_dir + "/run");
  fs::permissions(scene.data_dir + "/run", fs::perms::owner_all);
  {
    std::string path = scene.data_dir + "/run/cli.sock";
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);  // the file stays, with nobody listening
  }
  DesktopService service(scene.env, scene.data_dir);
  ASSERT_TRUE(service.ready()) << service.stderr_text();
  EXPECT_EQ(scene.pendrel({"ls"}).exit_code, 0);
  EXPECT_NE(service.stderr_text().find("replaced a stale socket"), std::string::npos);
}

TEST(ServiceLifecycle, ATooLongSocketPathLeavesTheMarkerThatPendrelShows) {
  DesktopScene scene;
  std::string deep = scene.home / std::string(120, 'd');
  auto env = DesktopScene::with_data_dir(scene.env, deep);
  DesktopService service(env, deep, false);
  const std::string marker = deep + "/run/cli.unavailable";
  for (int attempt = 0; attempt < 500 && !fs::exists(marker); ++attempt)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_TRUE(fs::exists(marker)) << service.stderr_text();
  EXPECT_TRUE(read_file(marker).starts_with(std::to_string(service.pid()) + "\n"));

  RunResult result = run_pendrel({.args = {"ls"}, .env = env});
  EXPECT_EQ(result.exit_code, 5);
  EXPECT_NE(result.out.find("connect_failed"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("did not start"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("bytes long"), std::string::npos) << result.out;

  EXPECT_EQ(service.stop(), 0) << "it stays running until stopped";
  EXPECT_FALSE(fs::exists(marker)) << "the marker goes with it";
}

TEST(ServiceLifecycle, SigtermStopsItAndRemovesTheSocket) {
  DesktopScene scene;
  DesktopService service(scene.env, scene.data_dir);
  ASSERT_TRUE(service.ready());
  struct stat status {};
  ASSERT_EQ(::stat(scene.data_dir.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0700u) << "a data directory it creates is private";
  EXPECT_EQ(service.stop(), 0);
  EXPECT_FALSE(fs::exists(scene.data_dir + "/run/cli.sock"));
  EXPECT_NE(service.stderr_text().find("stopped"), std::string::npos);
}

TEST(ServiceLifecycle, AnUnsafeRunDirectoryIsRefused) {
  DesktopScene scene;
  fs::create_directories(scene.data_dir + "/run");
  fs::permissions(scene.data_dir + "/run", fs::perms::owner_all | fs::perms::others_exec);
  DesktopService service(scene.env, scene.data_dir, false);
  EXPECT_EQ(service.wait_for_exit(), 1);
  EXPECT_NE(service.stderr_text().find("open to other users"), std::string::npos)
      << service.stderr_text();
}

TEST(ServiceLifecycle, PersonalModeKeepsTheStateInTheDataDirectoryAndEndsWithTheFront) {
  DesktopScene scene;
  write_hosts(scene.data_dir, "[" + local_host("loc1", "here") + "]");
  DesktopService service(scene.env, scene.data_dir);
  ASSERT_TRUE(service.ready()) << service.stderr_text();
  EXPECT_EQ(scene.pendrel({"ls"}).exit_code, 0) << service.stderr_text();
  EXPECT_NE(read_file(scene.data_dir + "/logs/audit.jsonl").find(R"("kind":"listHosts")"),
            std::string::npos)
      << "the broker's audit is the data directory's";
  pid_t broker = listener_pid(scene.data_dir + "/run/broker.sock");
  pid_t core = listener_pid(scene.data_dir + "/run/core.sock");
  ASSERT_GT(broker, 0);
  ASSERT_GT(core, 0);
  EXPECT_NE(broker, service.pid());
  EXPECT_EQ(listener_pid(scene.data_dir + "/run/cli.sock"), service.pid());

  RunResult status =
      run_pendrel({.args = {"status"}, .env = scene.env, .program = desktop_binary()});
  EXPECT_EQ(status.exit_code, 0) << status.err;
  EXPECT_NE(status.out.find("(pid " + std::to_string(service.pid()) + ")"), std::string::npos)
      << "status names the front: " << status.out;
  EXPECT_NE(status.err.find("an agent running as you can defeat it"), std::string::npos)
      << status.err;

  // A broker killed outright takes its service with it, and the front starts another.
  ::kill(broker, SIGKILL);
  EXPECT_TRUE(wait_until_gone(core, std::chrono::seconds(15))) << "the service ends with it";
  EXPECT_EQ(scene.pendrel({"ls"}).exit_code, 0) << service.stderr_text();
  broker = listener_pid(scene.data_dir + "/run/broker.sock");
  core = listener_pid(scene.data_dir + "/run/core.sock");
  ASSERT_GT(broker, 0);
  ASSERT_GT(core, 0);

  ::kill(service.pid(), SIGKILL);
  EXPECT_TRUE(wait_until_gone(broker, std::chrono::seconds(15))) << "the broker ends with it";
  EXPECT_TRUE(wait_until_gone(core, std::chrono::seconds(15))) << "and so does its service";
  EXPECT_FALSE(fs::exists(scene.data_dir + "/run/broker.sock"));
}

TEST(ServiceLifecycle, CliAccessOffRefusesTheHandshake) {
  DesktopScene scene;
  write_file(scene.data_dir + "/settings.json", R"({"version":1,"externalCli":false})");
  DesktopService service(scene.env, scene.data_dir);
  ASSERT_TRUE(service.ready());
  RunResult result = scene.pendrel({"ls"});
  EXPECT_EQ(result.exit_code, 7);
  EXPECT_NE(result.out.find(R"({"error":"cli_disabled")"), std::string::npos) << result.out;
}

}  // namespace
}  // namespace pendrel::testing
