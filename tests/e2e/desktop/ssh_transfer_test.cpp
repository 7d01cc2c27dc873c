// Copies to and from an SSH host through the real pendrel, front and broker against a real
// sshd: byte-for-byte round trips with scp's target rules, a missing remote file, and local
// files only the person may reach.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "ssh_scene.h"

namespace pendrel::testing {
namespace {

namespace fs = std::filesystem;

std::string random_bytes(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  std::mt19937 random(seed);
  for (auto& byte : bytes)
    byte = static_cast<char>(random());
  return bytes;
}

TEST_F(SshScene, CopiesRoundTripByteForByteWithScpTargetRules) {
  std::string id = add_key_host("files");
  trust_host_key(id);
  start_service();
  const std::string h = scene.home.path();
  const std::string r = server->files_dir();
  const std::string big = random_bytes(8 << 20, 11);
  write_file(h + "/big.bin", big);
  write_file(h + "/empty.bin", "");
  write_file(h + "/small.bin", "small");
  server->make_files_dir("into");
  fs::create_directories(h + "/back");

  struct Case {
    const char* verb;
    std::string from, to, written;
    const std::string& content;
  };
  const std::string empty;
  const std::string small = "small";
  const Case cases[] = {
      {"upload", h + "/empty.bin", r + "/empty.bin", r + "/empty.bin", empty},
      {"download", r + "/empty.bin", h + "/empty-back.bin", h + "/empty-back.bin", empty},
      {"upload", h + "/big.bin", r + "/big.bin", r + "/big.bin", big},
      {"download", r + "/big.bin", h + "/big-back.bin", h + "/big-back.bin", big},
      {"upload", h + "/big.bin", r + "/into", r + "/into/big.bin", big},         // a directory
      {"upload", h + "/small.bin", r + "/into/", r + "/into/small.bin", small},  // trailing /
      {"download", r + "/into/small.bin", h + "/back", h + "/back/small.bin", small},
      {"upload", h + "/small.bin", r + "/big.bin", r + "/big.bin", small},  // overwrite
      {"download", r + "/big.bin", h + "/big-back.bin", h + "/big-back.bin", small},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.verb) + " to " + c.to);
    RunResult result = pendrel({c.verb, id, c.from, c.to});
    ASSERT_EQ(result.exit_code, 0) << result.out << result.err;
    EXPECT_TRUE(read_file(c.written) == c.content) << "the bytes differ in " << c.written;
    EXPECT_NE(result.out.find("\"bytes\":" + std::to_string(c.content.size())), std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("\"" + c.written + "\""), std::string::npos)
        << "the path used: " << result.out;
  }
  EXPECT_NE(scene.audit().find("\"remote\":\"" + r + "/into/small.bin\""), std::string::npos)
      << scene.audit();

  // A relative remote path starts in the remote user's home.
  RunResult relative = pendrel({"upload", id, h + "/small.bin", "pendrel-e2e-rel.bin"});
  EXPECT_EQ(code_of(relative), "ok") << relative.out;
  EXPECT_NE(relative.out.find(R"(/pendrel-e2e-rel.bin")"), std::string::npos) << relative.out;
  RunResult landed = pendrel({"exec", id, "cat pendrel-e2e-rel.bin && rm pendrel-e2e-rel.bin"});
  EXPECT_NE(landed.out.find(R"("stdout":"small")"), std::string::npos) << landed.out;

  RunResult missing = pendrel({"download", id, r + "/absent", h + "/x"});
  EXPECT_EQ(code_of(missing), "path_not_found") << missing.out;
  EXPECT_FALSE(fs::exists(h + "/x"));

  // The local ends are the person's: a directory only the person may enter is no obstacle to
  // the broker, which is handed the files open and never names them, and what arrives there
  // is the person's, with no temporary file left beside it.
  fs::create_directories(h + "/private");
  fs::permissions(h + "/private", fs::perms::owner_all);
  write_file(h + "/private/mine.bin", "mine");
  RunResult up = pendrel({"upload", id, h + "/private/mine.bin", r + "/mine.bin"});
  EXPECT_EQ(code_of(up), "ok") << up.out;
  RunResult down = pendrel({"download", id, r + "/mine.bin", h + "/private/back.bin"});
  EXPECT_EQ(code_of(down), "ok") << down.out;
  EXPECT_EQ(read_file(h + "/private/back.bin"), "mine");
  struct stat facts {};
  ASSERT_EQ(::stat((h + "/private/back.bin").c_str(), &facts), 0);
  EXPECT_EQ(facts.st_uid, ::getuid());
  EXPECT_EQ(std::distance(fs::directory_iterator(h + "/private"), fs::directory_iterator()), 2);
}

}  // namespace
}  // namespace pendrel::testing
