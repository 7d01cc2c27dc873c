// Concurrency through the real programs: a long exec holds up nobody and ends with its caller,
// and fifty execs at once are all answered.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "desktop_scene.h"

namespace pendrel::testing {
namespace {

using namespace std::chrono_literals;

// The pid a command wrote into `path`, once it is there.
pid_t wait_for_pid_file(const std::string& path) {
  for (int attempt = 0; attempt < 500; ++attempt) {
    std::ifstream file(path);
    pid_t pid = 0;
    if (file >> pid && pid > 0) return pid;
    std::this_thread::sleep_for(20ms);
  }
  return -1;
}

class Concurrency : public ::testing::Test {
 protected:
  void SetUp() override {
    write_hosts(scene.data_dir, "[" + local_host("loc1", "here") + "]");
    ASSERT_TRUE(service.ready()) << service.stderr_text();
  }

  DesktopScene scene;
  DesktopService service{scene.env, scene.data_dir};
};

TEST_F(Concurrency, ALongExecBlocksNobodyAndEndsWhenItsCallerIsKilled) {
  std::string pid_file = scene.home / "long.pid";
  pid_t caller = scene.spawn_pendrel({"exec", "here", "echo $$ > " + pid_file + "; sleep 300"});
  ASSERT_GT(caller, 0);
  pid_t command = wait_for_pid_file(pid_file);
  ASSERT_GT(command, 0) << service.stderr_text();

  RunResult ls = scene.pendrel({"ls"});
  EXPECT_EQ(ls.exit_code, 0) << "ls is answered while the exec runs: " << ls.err;

  ::kill(caller, SIGKILL);
  int status = 0;
  ::waitpid(caller, &status, 0);
  EXPECT_TRUE(wait_until_gone(command)) << "the command ends with its caller";
  // The audit line is written once the runner has returned.
  for (int attempt = 0; attempt < 250 && scene.audit().find("canceled") == std::string::npos;
       ++attempt) {
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_NE(scene.audit().find(R"("outcome":"canceled")"), std::string::npos) << scene.audit();
  EXPECT_NE(service.stderr_text().find("the caller closed its connection"), std::string::npos);
}

TEST_F(Concurrency, FiftyExecsAtOnceAreAllAnswered) {
  constexpr int count = 50;
  std::vector<RunResult> results(count);
  {
    std::vector<std::jthread> callers;
    for (int i = 0; i < count; ++i) {
      callers.emplace_back([&, i] {
        results[static_cast<std::size_t>(i)] =
            scene.pendrel({"exec", "here", "sleep 0.2; echo " + std::to_string(i)});
      });
    }
  }
  for (int i = 0; i < count; ++i) {
    const RunResult& result = results[static_cast<std::size_t>(i)];
    EXPECT_EQ(result.exit_code, 0) << i << ": " << result.out << result.err;
    EXPECT_NE(result.out.find("\"stdout\":\"" + std::to_string(i) + "\\n\""), std::string::npos)
        << result.out;
  }
}

}  // namespace
}  // namespace pendrel::testing
