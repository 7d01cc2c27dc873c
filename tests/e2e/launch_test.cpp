// Starting the desktop application when it is not running: how it is located and started,
// the wait for its socket, and the failures on that road. The fake application stands in.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "support/durations.h"
#include "support/fake_app.h"
#include "support/run_pendrel.h"
#include "support/temp_dir.h"

namespace pendrel::testing {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

struct Scene {
  TempDir home;
  std::string data_dir = home / "data";
  std::string record = home / "record";
  std::map<std::string, std::string> env = base_environment(home.path());

  explicit Scene(const char* mode = "serve") {
    env["PENDREL_DATA_DIR"] = data_dir;
    env["PENDREL_APP"] = fake_app_binary();
    env["FAKE_APP_RECORD"] = record;
    env["FAKE_APP_MODE"] = mode;
    env["FAKE_APP_DELAY_MS"] = "250";
    // Far past any wait of a test, however loaded the machine: the application must not end
    // during a handshake or before a check that it still runs. FakeAppGuard ends it.
    env["FAKE_APP_LIFETIME_MS"] = "30000";
  }
  RunResult ls(std::string program = "", std::vector<int> inherited_fds = {}) const {
    return run_pendrel({.args = {"ls"},
                        .env = env,
                        .program = std::move(program),
                        .inherited_fds = std::move(inherited_fds)});
  }
};

std::string json_error(const std::string& code, const std::string& message) {
  return R"({"error":")" + code + R"(","message":")" + message + "\"}\n";
}

void copy_executable(const std::string& from, const std::string& to) {
  std::filesystem::create_directories(std::filesystem::path(to).parent_path());
  std::filesystem::copy_file(from, to);
  std::filesystem::permissions(to, std::filesystem::perms::owner_all);
}

// Leaves a socket file behind that nobody listens on: connecting to it is refused.
void leave_dead_socket(const std::string& path) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  ::close(fd);
}

TEST(Launch, StartsTheAppOnceHeadlessAndDetached) {
  for (bool refused : {false, true}) {
    Scene scene;
    if (refused) leave_dead_socket(scene.data_dir + "/run/cli.sock");
    FakeAppGuard guard(scene.record);
    scene.env["PENDREL_LOG"] = "1";
    auto result = scene.ls();
    EXPECT_EQ(result.exit_code, 0) << result.out << result.err;
    EXPECT_EQ(result.out, "[]\n");
    const std::string expected = "[pendrel] 数据目录 " + scene.data_dir +
                                 "\n"
                                 "[pendrel] Pendrel 没有运行，以无窗口模式拉起\n"
                                 "[pendrel] 启动 " +
                                 fake_app_binary() +
                                 " --headless\n"
                                 "[pendrel] 已连上拉起的 Pendrel（# ms）\n"
                                 "[pendrel] 发送请求：ls\n"
                                 "[pendrel] 请求 ls 完成（# ms）\n";
    EXPECT_EQ(without_durations(result.err), expected);

    auto record = wait_for_record(scene.record);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->args, (std::vector<std::string>{fake_app_binary(), "--headless"}));
    EXPECT_EQ(record->pgid, record->pid);  // a process group of its own
    EXPECT_EQ(record->stdio, "null null null");
    EXPECT_TRUE(record->open_fds.empty());
    EXPECT_TRUE(process_alive(record->pid));  // outlives the command
  }
}

TEST(Launch, FindsTheAppBesideTheProgram) {
  Scene scene;
  scene.env.erase("PENDREL_APP");
  const std::string program = scene.home / "opt/bin/pendrel";
  copy_executable(pendrel_binary(), program);
  copy_executable(fake_app_binary(), scene.home / "opt/bin/pendrel-desktop");
  {
    FakeAppGuard guard(scene.record);
    auto result = scene.ls(program);
    EXPECT_EQ(result.exit_code, 0) << result.out;
    auto record = wait_for_record(scene.record);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->args.at(0), scene.home / "opt/bin/pendrel-desktop");
  }
  std::filesystem::remove(scene.record);
  // "Pendrel" one level up wins over the one beside the program.
  copy_executable(fake_app_binary(), scene.home / "opt/Pendrel");
  FakeAppGuard guard(scene.record);
  auto result = scene.ls(program);
  EXPECT_EQ(result.exit_code, 0) << result.out;
  auto record = wait_for_record(scene.record);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->args, (std::vector<std::string>{scene.home / "opt/Pendrel", "--headless"}));
}

TEST(Launch, NotFoundAndStartFailures) {
  const std::string not_found =
      "Pendrel is not running and the Pendrel program was not found (set PENDREL_APP to its "
      "path)";
  {
    Scene scene;
    scene.env["PENDREL_APP"] = "";
    auto result = scene.ls();
    EXPECT_EQ(result.exit_code, 5);
    EXPECT_EQ(result.out, json_error("connect_failed", not_found));
  }
  {
    Scene scene;
    scene.env.erase("PENDREL_APP");
    const std::string program = scene.home / "bin/pendrel";
    copy_executable(pendrel_binary(), program);
    auto nothing_beside = scene.ls(program);
    EXPECT_EQ(nothing_beside.out, json_error("connect_failed", not_found));
    // A candidate without execute permission is chosen, and then cannot be started.
    write_file(scene.home / "bin/pendrel-desktop", "#!/bin/sh\n");
    auto not_executable = scene.ls(program);
    EXPECT_EQ(not_executable.exit_code, 5);
    EXPECT_EQ(
        not_executable.out,
        json_error("connect_failed", "failed to start Pendrel: Permission denied (os error 13)"));
  }
  {
    Scene scene;
    scene.env["PENDREL_APP"] = scene.home / "missing";
    scene.env["PENDREL_LOG"] = "1";
    auto result = scene.ls();
    const std::string message = "failed to start Pendrel: No such file or directory (os error 2)";
    EXPECT_EQ(result.exit_code, 5);
    EXPECT_EQ(result.out, json_error("connect_failed", message));
    EXPECT_TRUE(result.err.ends_with("[pendrel] 启动 " + scene.home / "missing" +
                                     " --headless\n"
                                     "[pendrel] 连接 Pendrel 失败：" +
                                     message + "（connect_failed）\n"))
        << result.err;
  }
}

// A file that is executable but in no executable format must not be handed to a shell as a
// script: the start fails at once, for a path and for a bare name found on PATH alike.
TEST(Launch, AFileInNoExecutableFormatIsNeverRun) {
  Scene scene;
  const std::string ran = scene.home / "ran";
  const std::string bin = scene.home / "bin";
  const struct {
    const char* name;
    std::string content;
  } files[] = {
      {"script-without-interpreter", "touch " + ran + "\n"},
      {"broken-elf",
       "\x7f"
       "ELF\x02\x01\x01\n"
       "touch " +
           ran + "\n"},
  };
  for (const auto& [name, content] : files) {
    write_file(bin + "/" + name, content);
    std::filesystem::permissions(bin + "/" + name, std::filesystem::perms::owner_all);
    for (const std::string& app : {bin + "/" + name, std::string(name)}) {
      scene.env["PENDREL_APP"] = app;
      scene.env["PATH"] = bin + ":/usr/bin:/bin";
      auto result = scene.ls();
      EXPECT_EQ(result.exit_code, 5) << app;
      EXPECT_EQ(result.out, json_error("connect_failed",
                                       "failed to start Pendrel: Exec format error (os error 8)"))
          << app;
    }
  }
  EXPECT_FALSE(std::filesystem::exists(ran));
}

TEST(Launch, StaleMarkerIsIgnored) {
  Scene scene;
  pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ASSERT_EQ(::waitpid(gone, nullptr, 0), gone);
  write_file(scene.data_dir + "/run/cli.unavailable", std::to_string(gone) + "\nold\n");
  FakeAppGuard guard(scene.record);
  auto result = scene.ls();
  EXPECT_EQ(result.exit_code, 0) << result.out;
  EXPECT_TRUE(wait_for_record(scene.record));
}

TEST(Launch, MarkerWrittenWhileWaitingEndsTheWait) {
  Scene scene("marker");
  scene.env["FAKE_APP_REASON"] = "socket path too long";
  FakeAppGuard guard(scene.record);
  const auto before = steady_clock::now();
  auto result = scene.ls();
  EXPECT_LT(steady_clock::now() - before, std::chrono::seconds(5));
  EXPECT_EQ(result.exit_code, 5);
  EXPECT_TRUE(result.out.starts_with(
      R"({"error":"connect_failed","message":"Pendrel is running but its command-line service did not start (socket path too long).)"))
      << result.out;
}

TEST(Launch, TimesOutWhenTheSocketNeverOpens) {
  Scene scene("never");
  FakeAppGuard guard(scene.record);
  const auto before = steady_clock::now();
  auto result = scene.ls();
  const auto took = steady_clock::now() - before;
  EXPECT_GE(took, std::chrono::seconds(10));
  EXPECT_LT(took, std::chrono::seconds(12));
  EXPECT_EQ(result.exit_code, 5);
  EXPECT_EQ(result.out, json_error("connect_failed", "timed out waiting for Pendrel to start"));
  auto record = wait_for_record(scene.record);
  ASSERT_TRUE(record);
  EXPECT_TRUE(process_alive(record->pid));  // left running
}

TEST(Launch, TheAppDoesNotHoldTheCallersDescriptors) {
  Scene scene;
  int ends[2];
  ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
  FakeAppGuard guard(scene.record);
  auto result = scene.ls("", {ends[1]});
  ::close(ends[1]);
  EXPECT_EQ(result.exit_code, 0) << result.out;
  auto record = wait_for_record(scene.record);
  ASSERT_TRUE(record);
  EXPECT_TRUE(record->open_fds.empty());
  // The application still runs, yet the caller's pipe reaches end of file.
  EXPECT_TRUE(process_alive(record->pid));
  pollfd readable{ends[0], POLLIN, 0};
  ASSERT_EQ(::poll(&readable, 1, 2000), 1);
  char byte = 0;
  EXPECT_EQ(::read(ends[0], &byte, 1), 0);
  ::close(ends[0]);
}

}  // namespace
}  // namespace pendrel::testing
