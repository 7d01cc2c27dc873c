// Data files broken, oversized or swapped under a running service: each is reported once in
// the service log, the last good state keeps serving, and the file is left as it was found.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "desktop_scene.h"

namespace pendrel::testing {
namespace {

std::size_t count_of(std::string_view text, std::string_view part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string_view::npos; at = text.find(part, at + 1))
    ++count;
  return count;
}

// Written under another name and renamed, so that the service reads it whole.
void replace_file(const std::string& path, std::string_view content) {
  write_file(path + ".new", content);
  std::filesystem::rename(path + ".new", path);
}

std::string hosts_text(std::string_view hosts_array) {
  return R"({"version":1,"hosts":)" + std::string(hosts_array) + "}";
}

TEST(HostileFiles, ABadDataFileIsReportedOnceAndTheLastGoodStateServesOn) {
  DesktopScene scene;
  const std::string good_hosts = hosts_text("[" + local_host("loc1", "here") + "]");
  write_file(scene.data_dir + "/hosts.json", good_hosts);
  DesktopService service(scene.env, scene.data_dir);
  ASSERT_TRUE(service.ready()) << service.stderr_text();

  struct Bad {
    const char* name;
    std::function<std::string(const std::string& good)> content;  // what the file then holds
    const char* reason;  // in the log line; "" when the parser's wording is its own business
  };
  const Bad bad_files[] = {
      {"truncated", [](const std::string& good) { return good.substr(0, good.size() / 2); }, ""},
      {"not JSON", [](const std::string&) { return std::string("hosts: here\n"); }, ""},
      {"empty", [](const std::string&) { return std::string(); }, ""},
      {"nested 100,000 deep", [](const std::string&) { return std::string(100'000, '['); }, ""},
      {"20 MB",
       [](const std::string&) { return R"({"version":1,)" + std::string(20'000'000, ' ') + "}"; },
       "a data file may hold"},
  };
  struct File {
    const char* name;
    std::string good;
    std::function<void(const RunResult&)> served_good;  // ls shows the good state
  };
  const File files[] = {
      {"hosts.json", good_hosts,
       [](const RunResult& ls) {
         EXPECT_EQ(ls.exit_code, 0) << ls.err;
         EXPECT_NE(ls.out.find("\"here\""), std::string::npos) << ls.out;
       }},
      {"settings.json", R"({"version":1,"externalCli":false})",
       [](const RunResult& ls) {
         EXPECT_EQ(ls.exit_code, 7) << "the switch stays off";
         EXPECT_NE(ls.out.find("cli_disabled"), std::string::npos) << ls.out;
       }},
  };
  for (const auto& file : files) {
    const std::string path = scene.data_dir + "/" + file.name;
    replace_file(path, file.good);
    file.served_good(scene.pendrel({"ls"}));
    for (const auto& bad : bad_files) {
      SCOPED_TRACE(std::string(file.name) + ", " + bad.name);
      const std::string content = bad.content(file.good);
      std::size_t reports = count_of(service.stderr_text(), path + ": ");
      replace_file(path, content);
      file.served_good(scene.pendrel({"ls"}));
      file.served_good(scene.pendrel({"ls"}));
      std::string log = service.stderr_text();
      EXPECT_EQ(count_of(log, path + ": "), reports + 1) << "reported once\n" << log;
      EXPECT_NE(log.find(std::string(bad.reason) + "; keeping the last good state"),
                std::string::npos)
          << log;
      EXPECT_TRUE(read_file(path) == content) << "the file was left as it was";
    }
    // Not a regular file: a FIFO would block the read, a device would never end.
    for (const char* special : {"fifo", "/dev/zero"}) {
      SCOPED_TRACE(std::string(file.name) + ", " + special);
      std::size_t reports = count_of(service.stderr_text(), path + ": not a regular file");
      std::filesystem::remove(path);
      if (std::string(special) == "fifo") {
        ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
      } else {
        std::filesystem::create_symlink(special, path);
      }
      file.served_good(scene.pendrel({"ls"}));
      EXPECT_EQ(count_of(service.stderr_text(), path + ": not a regular file"), reports + 1);
    }
    std::filesystem::remove(path);
  }
}

TEST(HostileFiles, AHostsFileRewrittenWhileItIsReadNeverServesAHalfFile) {
  DesktopScene scene;
  const std::string one = hosts_text("[" + local_host("loc1", "here") + "]");
  const std::string two =
      hosts_text("[" + local_host("loc1", "here") + "," + local_host("loc2", "there") + "]");
  const std::string path = scene.data_dir + "/hosts.json";
  write_file(path, one);
  DesktopService service(scene.env, scene.data_dir);
  ASSERT_TRUE(service.ready()) << service.stderr_text();

  ASSERT_EQ(scene.pendrel({"ls"}).exit_code, 0);  // the first good state
  std::atomic<bool> done{false};
  std::string last;
  {
    // In place, in two writes with a pause between: the service may read the first half.
    std::jthread writer([&] {
      for (int round = 0; !done; ++round) {
        last = round % 2 == 0 ? two : one;
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file << last.substr(0, last.size() / 2) << std::flush;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        file << last.substr(last.size() / 2) << std::flush;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
    });
    for (int call = 0; call < 15; ++call) {
      RunResult ls = scene.pendrel({"ls"});
      EXPECT_EQ(ls.exit_code, 0) << ls.err;
      EXPECT_NE(ls.out.find("\"here\""), std::string::npos) << ls.out;
    }
    done = true;
  }
  EXPECT_EQ(scene.pendrel({"ls"}).exit_code, 0);
  EXPECT_TRUE(read_file(path) == last) << "the service never writes the file";
}

}  // namespace
}  // namespace pendrel::testing
