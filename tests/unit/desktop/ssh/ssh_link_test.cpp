// SSH over links that fail: no connection outlives its request, and a link that goes silent
// mid-request ends it with connect_failed within the host's bound, losing no file.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "desktop/ssh/remote_exec.h"
#include "desktop/ssh/sftp_transfer.h"
#include "ssh_test_host.h"
#include "support/temp_dir.h"

namespace pendrel::desktop::testing {
namespace {

using Clock = std::chrono::steady_clock;
using pendrel::testing::read_file;
using pendrel::testing::TempDir;
using pendrel::testing::write_file;

std::size_t open_descriptors() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
    ++count;
  return count;
}

// Waits until `done` holds, for at most `limit`; the server ends a session a moment after
// its client closed, so this asks again rather than sleeping a fixed time.
template <typename Condition>
bool eventually(Condition done, std::chrono::seconds limit = std::chrono::seconds(10)) {
  const Clock::time_point give_up = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > give_up) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

bool has_temporary_file(const std::string& directory) {
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    if (entry.path().filename().string().find(".pendrel-") != std::string::npos) return true;
  }
  return false;
}

TEST(SshLink, RequestsLeaveNoConnectionBehind) {
  SKIP_WITHOUT_SSHD();
  SshdFixture server;
  const TestCredentials login = key_login(server);
  TempDir local;
  write_file(local / "up", "data");
  const std::string remote = server.files_dir() + "/up";
  // One of each first, so that what libssh sets up once per process is counted before.
  ASSERT_TRUE(ssh_exec(target_of(server), login.view(), trusting(server), "true", no_cancel));
  ASSERT_TRUE(ssh_upload(target_of(server), login.view(), trusting(server), local / "up", remote,
                         no_cancel));
  ASSERT_TRUE(eventually([&] { return server.session_count() == 0; }));
  const std::size_t descriptors = open_descriptors();

  for (int i = 0; i < 50; ++i) {
    SCOPED_TRACE(i);
    if (i % 10 == 1) {
      auto up = ssh_upload(target_of(server), login.view(), trusting(server), local / "up", remote,
                           no_cancel);
      ASSERT_TRUE(up.has_value()) << up.error().message;
    } else if (i % 10 == 2) {
      auto down = ssh_download(target_of(server), login.view(), trusting(server), remote,
                               local / "down", no_cancel);
      ASSERT_TRUE(down.has_value()) << down.error().message;
    } else {
      auto ran = ssh_exec(target_of(server), login.view(), trusting(server), "true", no_cancel);
      ASSERT_TRUE(ran.has_value()) << ran.error().message;
    }
  }
  EXPECT_EQ(open_descriptors(), descriptors);
  EXPECT_TRUE(eventually([&] { return server.session_count() == 0; }))
      << server.session_count() << " sessions are still open on the server";
}

}  // namespace
}  // namespace pendrel::desktop::testing
