// Copies to and from an SSH host through the real pendrel, front and broker against a real
// sshd: byte-for-byte round trips with scp's target rules, a missing remote file, local files
// only the person may reach, and a second person's copies made with their own permissions.
#include <pwd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "protocol/unique_fd.h"
#include "ssh_scene.h"
#include "support/second_person.h"

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

// The names created, moved away and moved in under the directory `watch` watches, in order.
std::vector<std::string> changes_seen(int watch) {
  std::vector<std::string> seen;
  alignas(inotify_event) char buffer[4096];
  for (ssize_t got; (got = ::read(watch, buffer, sizeof buffer)) > 0;) {
    for (char* at = buffer; at < buffer + got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(at);
      const char* what = event->mask & IN_CREATE       ? "create "
                         : event->mask & IN_MOVED_FROM ? "from "
                                                       : "to ";
      seen.push_back(what + std::string(event->len > 0 ? event->name : ""));
      at += sizeof(inotify_event) + event->len;
    }
  }
  return seen;
}

TEST_F(SshScene, ASecondPersonsCopiesAreMadeWithTheirPermissionsNotTheBrokers) {
  // Not the person who started the broker: their download is created beside its target by
  // their own front, as them, and renamed into place; a file they may not read is not copied,
  // even one the broker's account could read.
  Person person = ensure_second_person();
  if (!can_run_as(person, desktop_binary()) || !can_run_as(person, pendrel_binary()))
    GTEST_SKIP() << "the build tree is closed to " << person.name;
  const std::string home = scene.home / "person";
  fs::create_directories(home + "/private");
  for (const std::string& dir : {home, home + "/private"})
    ASSERT_EQ(::chown(dir.c_str(), person.uid, person.gid), 0);
  fs::permissions(home + "/private", fs::perms::owner_all);
  auto env =
      broker->pointed_at(DesktopScene::with_data_dir(base_environment(home), home + "/data"));
  env.erase("PENDREL_APP");  // pendrel starts the person's front from beside itself
  env["PENDREL_DESKTOP_TEST_KDF"] = "interactive";
  HeadlessServiceGuard front(home + "/data");
  const std::string key = home + "/id_ed25519";
  write_file(key, server->plain_key());
  ASSERT_EQ(::chown(key.c_str(), person.uid, person.gid), 0);
  ::chmod(key.c_str(), 0600);
  const std::string once = lines({ssh_master});
  const std::pair<std::vector<std::string>, std::string> set_up[] = {
      {{"init", "--password-fd", "0"}, once + once},
      {{"host", "add", "files", "--address", "127.0.0.1", "--port", std::to_string(server->port()),
        "--user", server->user(), "--cli", "on", "--key=" + key, "--password-fd", "0"},
       once},
      {{"hostkey", "trust", "files", "--fingerprint", server_fingerprint(), "--password-fd", "0"},
       once},
      {{"unlock", "--password-fd", "0"}, once},
  };
  for (const auto& [args, input] : set_up) {
    auto [code, shown] = run_as(person, desktop_binary(), args, env, input);
    ASSERT_EQ(code, 0) << args.front() << ": " << shown;
  }

  const std::string remote = server->files_dir();
  write_file(remote + "/theirs.bin", "theirs");
  UniqueFd watch(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  ASSERT_GE(::inotify_add_watch(watch.get(), (home + "/private").c_str(),
                                IN_CREATE | IN_MOVED_FROM | IN_MOVED_TO),
            0);
  auto [down_code, down] =
      run_as(person, pendrel_binary(),
             {"download", "files", remote + "/theirs.bin", home + "/private/back.bin"}, env);
  EXPECT_EQ(down_code, 0) << down;
  EXPECT_EQ(read_file(home + "/private/back.bin"), "theirs");
  struct stat facts {};
  ASSERT_EQ(::stat((home + "/private/back.bin").c_str(), &facts), 0);
  EXPECT_EQ(facts.st_uid, person.uid);
  auto seen = changes_seen(watch.get());
  ASSERT_EQ(seen.size(), 3u) << ::testing::PrintToString(seen);
  EXPECT_TRUE(seen[0].starts_with("create .back.bin.pendrel-")) << seen[0];
  EXPECT_EQ(seen[1], "from " + seen[0].substr(7));
  EXPECT_EQ(seen[2], "to back.bin");

  // Closed to the person: their own file without permissions, and a file of the broker's.
  const std::string closed = home + "/private/closed.bin";
  write_file(closed, "closed");
  ASSERT_EQ(::chown(closed.c_str(), person.uid, person.gid), 0);
  ::chmod(closed.c_str(), 0);
  const std::string brokers = scene.home / "brokers.bin";
  write_file(brokers, "the broker's");
  ASSERT_EQ(::chown(brokers.c_str(), ::getpwnam(broker->account().c_str())->pw_uid, 0), 0);
  ::chmod(brokers.c_str(), 0600);
  for (const std::string& local : {closed, brokers}) {
    SCOPED_TRACE(local);
    auto [code, shown] =
        run_as(person, pendrel_binary(), {"upload", "files", local, remote + "/up.bin"}, env);
    EXPECT_NE(shown.find(R"("error":"permission_denied")"), std::string::npos) << shown;
    EXPECT_FALSE(fs::exists(remote + "/up.bin"));
  }
  (void)run_as(person, desktop_binary(), {"stop"}, env);
}

}  // namespace
}  // namespace pendrel::testing
