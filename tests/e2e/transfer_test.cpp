#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "remote_session.h"

namespace pendrel::testing {
namespace {

std::string transfer_answer(std::string_view local, std::string_view remote, std::string_view bytes,
                            std::string_view duration_ms) {
  return std::string(R"({"type":"transfer","data":{"local":")") + std::string(local) +
         R"(","remote":")" + std::string(remote) + R"(","bytes":)" + std::string(bytes) +
         R"(,"durationMs":)" + std::string(duration_ms) + "}}";
}

const std::string any_answer = transfer_answer("/l", "/r", "1", "1");

std::string transfer_request(std::string_view kind, std::string_view local,
                             std::string_view remote) {
  return std::string(R"({"type":")") + std::string(kind) + R"(","data":{"host":"h","local":")" +
         std::string(local) + R"(","remote":")" + std::string(remote) + "\"" +
         caller_member(expected_callers()) + "}}";
}

// A working directory for pendrel, as getcwd will report it.
class WorkingDir {
 public:
  [[nodiscard]] std::string path() const { return std::filesystem::canonical(dir_.path()); }
  [[nodiscard]] std::string operator/(std::string_view relative) const {
    return path() + "/" + std::string(relative);
  }

 private:
  TempDir dir_;
};

TEST(Transfer, LocalPathIsMadeAbsoluteWithoutTouchingTheFileSystem) {
  RemoteSession session;
  WorkingDir work;
  const std::pair<std::string, std::string> cases[] = {
      {".", work.path()},      {"out/", work / "out/"}, {"a/../b", work / "a/../b"},
      {"a/./b", work / "a/b"}, {"~/x", work / "~/x"},   {"//srv/x", "//srv/x"},
      {"///srv/x", "/srv/x"},
  };
  for (const auto& [given, sent] : cases) {
    FakePeer peer(session.data_dir(), {answer_with(any_answer)});
    auto result =
        session.run({"download", "h", "/srv/r", given}, StdoutMode::pipe, "en", "", work.path());
    EXPECT_EQ(result.exit_code, 0) << given << result.out;
    EXPECT_EQ(request_of(peer), transfer_request("download", sent, "/srv/r")) << given;
  }
}

TEST(Transfer, UploadSendsTheAbsolutePathOfARegularFileOrLink) {
  RemoteSession session;
  WorkingDir work;
  write_file(work / "dist/app.tar.gz", "data");
  ASSERT_EQ(::symlink((work / "dist/app.tar.gz").c_str(), (work / "link").c_str()), 0);
  const std::pair<std::string, std::string> cases[] = {
      {"./dist/app.tar.gz", work / "dist/app.tar.gz"},
      {"link", work / "link"},  // the link itself, not its target
  };
  for (const auto& [given, sent] : cases) {
    FakePeer peer(session.data_dir(), {answer_with(any_answer)});
    auto result =
        session.run({"upload", "h", given, "/srv/"}, StdoutMode::pipe, "en", "", work.path());
    EXPECT_EQ(result.exit_code, 0) << given << result.out;
    EXPECT_EQ(request_of(peer), transfer_request("upload", sent, "/srv/")) << given;
  }
}

TEST(Transfer, UnfitUploadSourcesFailBeforeAnyConnection) {
  RemoteSession session;
  FakePeer peer(session.data_dir(), {answer_with(any_answer)});
  WorkingDir work;
  std::filesystem::create_directory(work / "dir");
  ASSERT_EQ(::mkfifo((work / "fifo").c_str(), 0600), 0);
  write_file(work / "file", "x");
  ASSERT_EQ(::symlink((work / "missing").c_str(), (work / "dangling").c_str()), 0);
  struct Case {
    std::string given;
    std::string json;
  };
  const Case cases[] = {
      {"dir", R"({"error":"usage","message":")" + work / "dir" +
                  R"( is a directory; only single files can be uploaded for now. Archive it )"
                  R"json(first (e.g. tar czf dir.tar.gz dir)"})json"},
      {"fifo", R"({"error":"usage","message":")" + work / "fifo" + R"( is not a regular file"})"},
      {"missing", R"({"error":"path_not_found","message":")" + work / "missing" + "\"}"},
      {"dangling", R"({"error":"path_not_found","message":")" + work / "dangling" + "\"}"},
      {"file/x", R"json({"error":"usage","message":"Not a directory (os error 20)"})json"},
  };
  for (const Case& c : cases) {
    auto result =
        session.run({"upload", "h", c.given, "/srv/"}, StdoutMode::pipe, "en", "", work.path());
    EXPECT_EQ(result.exit_code, 1) << c.given;
    EXPECT_EQ(result.out, c.json + "\n");
  }
  auto chinese =
      session.run({"upload", "h", "dir", "/srv/"}, StdoutMode::terminal, "zh", "", work.path());
  EXPECT_EQ(chinese.err, "pendrel: " + work / "dir" +
                             " 是目录，目前只支持上传单个文件；可先打包（如 tar czf dir.tar.gz "
                             "dir）再上传\n");
  EXPECT_EQ(peer.connections(), 0);
}

TEST(Transfer, UnreadableUploadSourceIsPermissionDenied) {
  if (::geteuid() == 0) GTEST_SKIP() << "root may examine anything";
  RemoteSession session;
  FakePeer peer(session.data_dir(), {answer_with(any_answer)});
  WorkingDir work;
  write_file(work / "locked/file", "x");
  ASSERT_EQ(::chmod((work / "locked").c_str(), 0), 0);
  auto result =
      session.run({"upload", "h", "locked/file", "/srv/"}, StdoutMode::pipe, "en", "", work.path());
  ::chmod((work / "locked").c_str(), 0700);
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.out,
            R"({"error":"permission_denied","message":")" + work / "locked/file" + "\"}\n");
  EXPECT_EQ(peer.connections(), 0);
}

TEST(Transfer, JsonResult) {
  RemoteSession session;
  FakePeer peer(session.data_dir(), {answer_with(transfer_answer("/home/u/a \\\"b\\\"", "/srv/a",
                                                                 "18446744073709551615", "930"))});
  auto result = session.run({"download", "h", "/srv/a", "/home/u/"}, StdoutMode::pipe);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out,
            R"({"local":"/home/u/a \"b\"","remote":"/srv/a","bytes":18446744073709551615,)"
            R"("durationMs":930})"
            "\n");
  EXPECT_EQ(result.err, "");
}

TEST(Transfer, TextLineShowsSizeFarPathAndDuration) {
  RemoteSession session;
  WorkingDir work;
  write_file(work / "app.tar.gz", "x");
  FakePeer peer(session.data_dir(),
                {answer_with(transfer_answer("/l/app.tar.gz", "/tmp/app.tar.gz", "1572864", "930")),
                 answer_with(transfer_answer("/home/u/x", "/srv/x", "1023", "12345")),
                 answer_with(transfer_answer("/home/u/y", "/srv/y", "1048575", "40"))});
  struct Case {
    std::vector<std::string> args;
    std::string lang;
    std::string line;
  };
  const Case cases[] = {
      {{"upload", "h", "app.tar.gz", "/tmp/"}, "en", "Uploaded 1.5 MB → /tmp/app.tar.gz (0.9s)\n"},
      {{"download", "h", "/srv/x", "."}, "zh", "已下载 1023 B → /home/u/x（12.3 秒）\n"},
      {{"download", "h", "/srv/y", "."}, "en", "Downloaded 1024.0 KB → /home/u/y (0.0s)\n"},
  };
  for (const Case& c : cases) {
    auto result = session.run(c.args, StdoutMode::terminal, c.lang, "", work.path());
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.out, c.line);
    EXPECT_EQ(result.err, "");
  }
}

TEST(Transfer, AnswerOfAnotherKindIsInternal) {
  RemoteSession session;
  FakePeer peer(session.data_dir(), {answer_with(R"({"type":"ok","data":null})")});
  auto result = session.run({"download", "h", "/srv/a", "/tmp/"}, StdoutMode::pipe);
  EXPECT_EQ(result.exit_code, 5);
  EXPECT_EQ(result.out, R"({"error":"internal","message":"unexpected answer from Pendrel: Ok"})"
                        "\n");
}

TEST(Transfer, ArgumentErrorsNeverContactThePeer) {
  RemoteSession session;
  FakePeer peer(session.data_dir(), {answer_with(any_answer)});
  const std::string upload_usage = "usage: pendrel upload <host> <local-file> <remote-path>";
  const std::string download_usage = "usage: pendrel download <host> <remote-file> <local-path>";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"upload", "h", "a"}, upload_usage},
      {{"upload", "h", "a", "b", "c"}, upload_usage},
      {{"download", "h", "a"}, download_usage},
      {{"download", "h", "a", "b", "c"}, download_usage},
      {{"upload", "", "/etc/hostname", "/srv/"}, "path must not be empty"},
      {{"upload", "h", "", "/srv/"}, "path must not be empty"},
      {{"download", "h", "/srv/a", ""}, "path must not be empty"},
      {{"download", "h", "", "/tmp/"}, "path must not be empty"},
  };
  for (const auto& [args, message] : cases) {
    auto result = session.run(args, StdoutMode::pipe);
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.out, R"({"error":"usage","message":")" + message + "\"}\n");
  }
  EXPECT_EQ(peer.connections(), 0);
}

}  // namespace
}  // namespace pendrel::testing
