// Uploads and downloads against a real sshd: byte-for-byte round trips with scp's target
// rules, and the codes of paths that cannot be used.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "desktop/broker/ssh/sftp_transfer.h"
#include "ssh_test_host.h"
#include "support/temp_dir.h"

namespace pendrel::desktop::testing {
namespace {

using pendrel::testing::read_file;
using pendrel::testing::TempDir;
using pendrel::testing::write_file;

// Not all zeros, so that a misplaced chunk shows.
std::string patterned_bytes(std::size_t size) {
  std::string bytes(size, '\0');
  std::uint32_t state = 12345;
  for (char& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 24);
  }
  return bytes;
}

struct RoundTrip {
  const char* name;
  std::size_t size;
  std::string remote;          // as given to upload, relative to the server's files dir
  std::string remote_written;  // the file it must land in
  std::string download_to;     // relative to the local dir; the file lands in download_as
  std::string download_as;
};

TEST(SftpTransfer, RoundTripsByteForByte) {
  SKIP_WITHOUT_SSHD();
  SshdFixture server;
  const TestCredentials login = key_login(server);
  TempDir local;
  std::filesystem::create_directories(local / "into");
  const std::string files = server.files_dir();
  const std::vector<RoundTrip> trips{
      {"empty file", 0, "empty", "empty", "back-empty", "back-empty"},
      {"64 MiB", 64u << 20, "big", "big", "into", "into/big"},
      {"into a remote directory", 1000, "sub", "sub/small", "into/", "into/small"},
      {"trailing slash", 2000, "", "small", ".", "small"},
      {"overwrite", 10, "big", "big", "into/big", "into/big"},
  };
  server.make_files_dir("sub");
  for (const RoundTrip& trip : trips) {
    SCOPED_TRACE(trip.name);
    const std::string name = trip.remote_written.substr(trip.remote_written.rfind('/') + 1);
    const std::string source = local / ("source/" + name);
    const std::string content = patterned_bytes(trip.size);
    write_file(source, content);
    auto up = ssh_upload(target_of(server), login.view(), trusting(server), source,
                         files + "/" + trip.remote, no_cancel);
    ASSERT_TRUE(up.has_value()) << up.error().code << ": " << up.error().message;
    EXPECT_EQ(up->remote, files + "/" + trip.remote_written);
    EXPECT_EQ(up->bytes, trip.size);
    EXPECT_TRUE(read_file(up->remote) == content);

    std::string local_target = trip.download_to == "." ? local.path() : local / trip.download_to;
    auto down = ssh_download(target_of(server), login.view(), trusting(server), up->remote,
                             local_target, no_cancel);
    ASSERT_TRUE(down.has_value()) << down.error().code << ": " << down.error().message;
    EXPECT_EQ(down->local, local / trip.download_as);
    EXPECT_EQ(down->bytes, trip.size);
    EXPECT_TRUE(read_file(down->local) == content);
  }
  // No temporary file is left beside the downloads.
  for (const auto& entry : std::filesystem::directory_iterator(local / "into")) {
    EXPECT_EQ(entry.path().filename().string().find(".pendrel-"), std::string::npos);
  }
}

struct PathCase {
  const char* name;
  bool upload;
  std::string remote;
  std::string local;  // relative to the local dir unless absolute
  const char* code;
};

TEST(SftpTransfer, PathsThatCannotBeUsed) {
  SKIP_WITHOUT_SSHD();
  SshdFixture server;
  const TestCredentials login = key_login(server);
  TempDir local;
  write_file(local / "file", "data");
  const std::string files = server.files_dir();
  server.make_files_dir("file");  // a directory where a file would go
  const std::vector<PathCase> cases{
      {"missing local file", true, files + "/x", "missing", "path_not_found"},
      {"local directory", true, files + "/x", ".", "bad_request"},
      {"local device", true, files + "/x", "/dev/zero", "bad_request"},
      {"missing remote parent", true, files + "/no/such/dir", "file", "path_not_found"},
      {"remote target is a directory", true, files + "/", "file", "path_exists"},
      {"remote not writable", true, "/etc/pendrel-test", "file", "permission_denied"},
      {"missing remote file", false, files + "/missing", "got", "path_not_found"},
      {"remote not readable", false, "/etc/shadow", "got", "permission_denied"},
      {"local target is a directory", false, "/etc/hostname", "d", "path_exists"},
      {"missing local parent", false, "/etc/hostname", "no/such/file", "path_not_found"},
  };
  std::filesystem::create_directories(local / "d/hostname");
  for (const PathCase& path : cases) {
    SCOPED_TRACE(path.name);
    const std::string local_path = path.local == "."             ? local.path()
                                   : path.local.starts_with('/') ? path.local
                                                                 : local / path.local;
    auto result = path.upload ? ssh_upload(target_of(server), login.view(), trusting(server),
                                           local_path, path.remote, no_cancel)
                              : ssh_download(target_of(server), login.view(), trusting(server),
                                             path.remote, local_path, no_cancel);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().code, path.code) << result.error().message;
  }

  SshdFixture without_sftp(SshdVariant::no_sftp);
  auto refused = ssh_upload(target_of(without_sftp), key_login(without_sftp).view(),
                            trusting(without_sftp), local / "file", "x", no_cancel);
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error().code, "sftp_unavailable") << refused.error().message;
}

}  // namespace
}  // namespace pendrel::desktop::testing
