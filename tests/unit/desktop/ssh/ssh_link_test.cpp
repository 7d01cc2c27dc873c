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

#include "desktop/broker/ssh/remote_exec.h"
#include "desktop/broker/ssh/sftp_transfer.h"
#include "desktop/broker/ssh/warm_connections.h"
#include "ssh_test_host.h"
#include "support/cuttable_link.h"
#include "support/temp_dir.h"

namespace pendrel::desktop::testing {
namespace {

using Clock = std::chrono::steady_clock;
using pendrel::testing::CuttableLink;
using pendrel::testing::LinkSide;
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

// A target through `link`, that gives up on a silent link after 3 s.
SshTarget through(const CuttableLink& link, const SshdFixture& server) {
  SshTarget target = target_of(server);
  target.port = link.port();
  target.dead_link_after = std::chrono::seconds(3);
  return target;
}

TEST(SshLink, AHostGoneSilentMidCommandAnswersConnectFailed) {
  SKIP_WITHOUT_SSHD();
  SshdFixture server;
  CuttableLink link(server.port());
  const TestCredentials login = key_login(server);
  const std::string started = server.files_dir() + "/started";
  std::optional<std::expected<ExecResponse, ErrorBody>> result;
  std::atomic<bool> finished{false};
  std::thread request([&] {
    result = ssh_exec(through(link, server), login.view(), trusting(server),
                      "touch " + started + "; sleep 30", no_cancel);
    finished = true;
  });
  // A quiet command on a live link is not taken for a dead link: keepalives get answers.
  ASSERT_TRUE(eventually([&] { return std::filesystem::exists(started); }));
  std::this_thread::sleep_for(std::chrono::seconds(4));
  EXPECT_FALSE(finished);
  const Clock::time_point cut_at = Clock::now();
  link.cut();
  request.join();
  ASSERT_FALSE(result->has_value());
  EXPECT_EQ(result->error().code, "connect_failed") << result->error().message;
  EXPECT_LT(Clock::now() - cut_at, std::chrono::seconds(8));
}

TEST(SshLink, ACutMidTransferKeepsTheOldFileAndLeavesNoTemporaryFile) {
  SKIP_WITHOUT_SSHD();
  SshdFixture server;
  const TestCredentials login = key_login(server);
  TempDir local;
  const std::string old_content(8u << 20, 'o');
  const std::string new_content(16u << 20, 'n');
  const std::string remote = server.files_dir() + "/target";
  write_file(local / "new", new_content);
  write_file(local / "old", old_content);
  ASSERT_TRUE(ssh_upload(target_of(server), login.view(), trusting(server), local / "old", remote,
                         no_cancel));

  {
    SCOPED_TRACE("upload");
    CuttableLink link(server.port());
    link.cut_after(LinkSide::to_server, 4u << 20);
    auto up = ssh_upload(through(link, server), login.view(), trusting(server), local / "new",
                         remote, no_cancel);
    ASSERT_FALSE(up.has_value());
    EXPECT_EQ(up.error().code, "connect_failed") << up.error().message;
    EXPECT_TRUE(read_file(remote) == old_content);
    EXPECT_FALSE(has_temporary_file(server.files_dir()));
  }
  {
    SCOPED_TRACE("download");
    write_file(remote, new_content);
    CuttableLink link(server.port());
    link.cut_after(LinkSide::to_client, 4u << 20);
    auto down = ssh_download(through(link, server), login.view(), trusting(server), remote,
                             local / "old", no_cancel);
    ASSERT_FALSE(down.has_value());
    EXPECT_EQ(down.error().code, "connect_failed") << down.error().message;
    EXPECT_TRUE(read_file(local / "old") == old_content);
    EXPECT_FALSE(has_temporary_file(local.path()));
  }
}

TEST(SshLink, WarmConnectionsServeTheNextRequestsUntilEnded) {
  SKIP_WITHOUT_SSHD();
  SshdFixture server;
  const TestCredentials login = key_login(server);
  TempDir local;
  write_file(local / "up", "data");
  const std::string remote = server.files_dir() + "/up";
  WarmConnections warm;
  const ConnectionSource source{&warm, "h"};
  auto run = [&](const char* command) {
    auto ran =
        ssh_exec(target_of(server), login.view(), trusting(server), command, no_cancel, source);
    EXPECT_TRUE(ran.has_value()) << ran.error().message;
    return ran ? ran->stdout_text : std::string();
  };
  // Each command still runs in a process (and shell) of its own.
  EXPECT_NE(run("echo $$"), run("echo $$"));
  ASSERT_TRUE(ssh_upload(target_of(server), login.view(), trusting(server), local / "up", remote,
                         no_cancel, source));
  ASSERT_TRUE(ssh_download(target_of(server), login.view(), trusting(server), remote,
                           local / "down", no_cancel, source));
  EXPECT_EQ(warm.idle_count(), 1u);
  EXPECT_TRUE(eventually([&] { return server.session_count() == 1; }));

  // The kept connection is the person's login: a request with the host's command-line login
  // makes one of its own, and each is kept for its own login.
  const ConnectionSource as_cli{&warm, "h", warm.generation(), HostLogin::command_line};
  for (int request = 0; request < 2; ++request)
    ASSERT_TRUE(
        ssh_exec(target_of(server), login.view(), trusting(server), "true", no_cancel, as_cli));
  EXPECT_EQ(warm.idle_count(), 2u);
  EXPECT_TRUE(eventually([&] { return server.session_count() == 2; }));

  // A kept connection the host ended meanwhile gives way to a new one.
  server.end_sessions();
  ASSERT_TRUE(eventually([&] { return server.session_count() == 0; }));
  EXPECT_EQ(run("echo again"), "again\n");

  warm.end_all();
  EXPECT_EQ(warm.idle_count(), 0u);
  EXPECT_TRUE(eventually([&] { return server.session_count() == 0; }));

  // An idle connection is probed with keepalives: it stays while the host answers, and is
  // dropped once it does not.
  CuttableLink link(server.port());
  SshTarget distant = target_of(server);
  distant.port = link.port();
  distant.dead_link_after = std::chrono::seconds(2);
  const ConnectionSource later{&warm, "h", warm.generation()};
  ASSERT_TRUE(ssh_exec(distant, login.view(), trusting(server), "true", no_cancel, later));
  // Three probe intervals: a host that answers keeps its connection.
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_EQ(warm.idle_count(), 1u);
  link.cut();
  EXPECT_TRUE(eventually([&] { return warm.idle_count() == 0; }));
}

}  // namespace
}  // namespace pendrel::desktop::testing
