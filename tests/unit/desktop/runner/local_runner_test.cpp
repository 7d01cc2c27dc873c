#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "desktop/front/runner/local_exec.h"
#include "desktop/front/runner/local_transfer.h"
#include "support/temp_dir.h"

namespace pendrel::desktop {
namespace {

using testing::TempDir;

std::string repeated(std::string_view text, std::size_t times) {
  std::string all;
  for (std::size_t i = 0; i < times; ++i)
    all += text;
  return all;
}

TEST(RunLocalCommand, ReportsWhatTheCommandDid) {
  TempDir home;
  testing::write_file(home / "marker", "here");
  // Inheritable on purpose: the child must close it all the same.
  int leaked = ::open("/dev/null", O_RDONLY);
  struct Case {
    std::string command;
    int exit_code;
    std::string out;  // expected stdout, or its size when `out_size` is set
    std::string err;
    std::size_t out_size = 0;
    bool truncated = false;
  } cases[] = {
      {"echo out; echo err >&2; exit 3", 3, "out\n", "err\n"},
      {"kill -9 $$", 137, "", ""},
      {"cat marker; pwd >/dev/null", 0, "here", ""},
      {"cat", 0, "", ""},                              // standard input is /dev/null, so this ends
      {"ls /proc/self/fd | wc -l", 0, "4\n", ""},      // 0, 1, 2 and ls's own directory
      {"-x", 127, "", "/bin/sh: 1: -x: not found\n"},  // a command, not an option of sh
      // Far longer than one argument may be: read by the shell, as if run with -c. Standard
      // input is still /dev/null, no descriptor is added, and the line numbers are the text's.
      {repeated(":\n", 150'000) +
           "readlink /proc/self/fd/0; ls /proc/self/fd | wc -l; echo \"$0\"\nnope; exit 3",
       3, "/dev/null\n4\n/bin/sh\n", "/bin/sh: 150002: eval: nope: not found\n"},
      {"printf 'a\\377b'", 0,
       "a\xEF\xBF\xBD"
       "b",
       ""},
      // Both streams far over the bound at once: neither may block the other.
      {"head -c 2200000 /dev/zero | tr '\\0' x; head -c 3000000 /dev/zero >&2", 0, "", "",
       max_stream_bytes, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command.substr(c.command.size() - std::min<std::size_t>(c.command.size(), 80)));
    auto result = run_local_command(c.command, home.path(), CancelWatch{});
    ASSERT_TRUE(result) << result.error().message;
    EXPECT_EQ(result->exit_code, c.exit_code);
    EXPECT_EQ(result->truncated, c.truncated);
    if (c.out_size != 0) {
      EXPECT_EQ(result->stdout_text.size(), c.out_size);
      EXPECT_EQ(result->stderr_text.size(), max_stream_bytes);
    } else {
      EXPECT_EQ(result->stdout_text, c.out);
      EXPECT_EQ(result->stderr_text, c.err);
    }
  }
  ::close(leaked);
  auto missing_home = run_local_command("true", home / "absent", CancelWatch{});
  ASSERT_FALSE(missing_home);
  EXPECT_EQ(missing_home.error().code, "internal");
}

TEST(RunLocalCommand, EndsTheWholeGroupWhenCanceled) {
  TempDir home;
  int hang_up[2];
  ASSERT_EQ(::pipe(hang_up), 0);
  // The grandchild records its pid and would outlive a kill of the shell alone; it also
  // closes its output, so only the group kill can end it.
  std::thread caller_gone([&] {
    while (::access((home / "pid").c_str(), F_OK) != 0)
      std::this_thread::yield();
    ::close(hang_up[1]);
  });
  auto result = run_local_command(
      "(exec >/dev/null 2>&1; echo $$ > pid.tmp; mv pid.tmp pid; sleep 60) & wait", home.path(),
      CancelWatch{{hang_up[0]}});
  caller_gone.join();
  ::close(hang_up[0]);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().code, "canceled");
  pid_t grandchild = std::stoi(testing::read_file(home / "pid"));
  // The group got SIGKILL before its leader was reaped; the orphan is gone or a zombie of init.
  std::string state;
  for (int i = 0; i < 200 && ::kill(grandchild, 0) == 0; ++i) {
    state = testing::read_file("/proc/" + std::to_string(grandchild) + "/stat");
    if (state.find(") Z") != std::string::npos) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(::kill(grandchild, 0) != 0 || state.find(") Z") != std::string::npos) << state;
}

TEST(ScpTargetPath, AppendsTheSourceNameForADirectory) {
  TempDir dir;
  ASSERT_EQ(::mkdir((dir / "sub").c_str(), 0700), 0);
  struct Case {
    std::string source, target, expected;
  } cases[] = {
      {"/a/file.txt", dir / "sub", dir / "sub/file.txt"},
      {"/a/file.txt", dir / "sub/", dir / "sub/file.txt"},
      {"/a/file.txt", dir / "new/", dir / "new/file.txt"},  // a slash means a directory
      {"/a/file.txt", dir / "other.txt", dir / "other.txt"},
      {"file.txt", "/", "/file.txt"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(scp_target_path(c.source, c.target), c.expected);
}

TEST(CopyLocalFile, CopiesThroughATemporaryFileAndNamesItsFailures) {
  TempDir dir;
  std::string data(300000, '\0');
  for (std::size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<char>(i * 7);
  testing::write_file(dir / "src.bin", data);
  testing::write_file(dir / "old.bin", "old");
  ASSERT_EQ(::mkdir((dir / "sub").c_str(), 0700), 0);
  ASSERT_EQ(::mkdir((dir / "sub/src.bin").c_str(), 0700), 0);

  struct Case {
    std::string source, target, written, error;
  } cases[] = {
      {dir / "src.bin", dir / "copy.bin", dir / "copy.bin", ""},
      {dir / "src.bin", dir / "old.bin", dir / "old.bin", ""},   // overwritten
      {dir / "src.bin", dir.path() + "/", dir / "src.bin", ""},  // onto itself
      {dir / "absent", dir / "x", "", "path_not_found"},
      {dir / "src.bin", dir / "no/such/dir/x", "", "path_not_found"},
      {dir / "sub", dir / "x", "", "bad_request"},
      {dir / "src.bin", dir / "sub", "", "path_exists"},  // sub/src.bin is a directory
  };
  for (const auto& c : cases) {
    auto copied = copy_local_file(Direction::download, c.source, c.target);
    if (!c.error.empty()) {
      ASSERT_FALSE(copied) << c.source << " -> " << c.target;
      EXPECT_EQ(copied.error().code, c.error) << copied.error().message;
      continue;
    }
    ASSERT_TRUE(copied) << copied.error().message;
    EXPECT_EQ(copied->local, c.written);
    EXPECT_EQ(copied->remote, c.source);
    EXPECT_EQ(copied->bytes, data.size());
    EXPECT_EQ(testing::read_file(c.written), data);
  }
  if (::geteuid() != 0) {
    ASSERT_EQ(::chmod((dir / "src.bin").c_str(), 0), 0);
    auto refused = copy_local_file(Direction::upload, dir / "src.bin", dir / "y");
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().code, "permission_denied");
  }
  // No temporary file is left behind by any of the above.
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    EXPECT_FALSE(entry.path().filename().string().starts_with('.')) << entry.path();
  }
}

}  // namespace
}  // namespace pendrel::desktop
