// The requests through the real programs against LOCAL hosts: listing and filtering, host
// lookup failures, exec results, file copies, the audit lines, and the text mode.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "desktop_scene.h"

namespace pendrel::testing {
namespace {

namespace fs = std::filesystem;

class Requests : public ::testing::Test {
 protected:
  void SetUp() override {
    write_hosts(scene.data_dir,
                "[" + local_host("loc1", "here", true, "Dev") + "," + local_host("loc2", "there") +
                    "," + local_host("loc3", "closed", false) + "," + local_host("dup1", "twin") +
                    "," + local_host("dup2", "twin") + "]");
    ASSERT_TRUE(service.ready()) << service.stderr_text();
  }

  DesktopScene scene;
  DesktopService service{scene.env, scene.data_dir};
};

TEST_F(Requests, ListingShowsOpenHostsFilteredByTheQuery) {
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> ids;
  };
  const Case cases[] = {
      {{"ls"}, {"loc1", "loc2", "dup1", "dup2"}},                  // by name, then id
      {{"ls", "-q", "dev"}, {"loc1"}},                             // a tag, in another case
      {{"ls", "-q", "THER"}, {"loc2"}},                            // a name
      {{"ls", "-q", "closed"}, {}},                                // CLI access off: never listed
      {{"ls", "-q", "TESTER"}, {"loc1", "loc2", "dup1", "dup2"}},  // the username
  };
  for (const auto& c : cases) {
    RunResult result = scene.pendrel(c.args);
    ASSERT_EQ(result.exit_code, 0) << result.err;
    std::string listed;
    for (std::size_t at = result.out.find(R"("id":")"); at != std::string::npos;
         at = result.out.find(R"("id":")", at + 1)) {
      listed += result.out.substr(at + 6, 4) + " ";
    }
    std::string expected;
    for (const auto& id : c.ids)
      expected += id + " ";
    EXPECT_EQ(listed, expected) << c.args.back();
  }
}

TEST_F(Requests, HostLookupFailuresHaveTheirCodes) {
  struct Case {
    const char* host;
    const char* code;
    int exit_code;
  };
  const Case cases[] = {
      {"nowhere", "host_not_found", 2},
      {"closed", "host_not_allowed", 3},
      {"twin", "bad_request", 1},
  };
  for (const auto& c : cases) {
    RunResult result = scene.pendrel({"exec", c.host, "true"});
    EXPECT_EQ(result.exit_code, c.exit_code) << c.host;
    EXPECT_NE(result.out.find(std::string(R"({"error":")") + c.code + "\""), std::string::npos)
        << result.out;
  }
  RunResult twin = scene.pendrel({"exec", "twin", "true"});
  EXPECT_NE(twin.out.find("dup1"), std::string::npos) << "the ambiguity names the ids";
  EXPECT_EQ(scene.pendrel({"exec", "dup2", "true"}).exit_code, 0) << "an id still works";
  EXPECT_EQ(scene.pendrel({"exec", "--terminal", "here", "true"}).exit_code, 5);
}

TEST_F(Requests, ExecReturnsStatusAndBothStreamsApart) {
  struct Case {
    const char* command;
    int exit_code;
    const char* stdout_json;
    const char* stderr_json;
  };
  const Case cases[] = {
      {"echo out; echo err >&2", 0, R"("stdout":"out\n")", R"("stderr":"err\n")"},
      {"exit 3", 3, R"("stdout":"")", R"("stderr":"")"},
      {"kill -KILL $$", 137, R"("stdout":"")", R"("stderr":"")"},
      {"printf 'a\\377b'", 0,
       "\"stdout\":\"a\xEF\xBF\xBD"
       "b\"",
       R"("stderr":"")"},
      {"pwd", 0, nullptr, R"("stderr":"")"},
  };
  for (const auto& c : cases) {
    RunResult result = scene.pendrel({"exec", "here", c.command});
    EXPECT_EQ(result.exit_code, c.exit_code) << c.command << result.out;
    EXPECT_NE(result.out.find("\"exitCode\":" + std::to_string(c.exit_code)), std::string::npos)
        << result.out;
    if (c.stdout_json) {
      EXPECT_NE(result.out.find(c.stdout_json), std::string::npos) << result.out;
    }
    EXPECT_NE(result.out.find(c.stderr_json), std::string::npos) << result.out;
  }
  RunResult pwd = scene.pendrel({"exec", "here", "pwd"});
  EXPECT_NE(pwd.out.find(R"("stdout":")" + scene.home.path() + "\\n\""), std::string::npos)
      << "commands run in the home directory: " << pwd.out;
}

// Within the stdin limit but far over what one argument of the shell may hold; and a command
// that sh would take for one of its options.
TEST_F(Requests, LongScriptsAndCommandsStartingWithADashRun) {
  std::string script;
  for (int line = 0; line < 150'000; ++line)
    script += ":\n";
  script += "echo done; exit 3\n";
  RunResult long_script = run_pendrel(
      {.args = {"exec", "here", "--stdin"}, .env = scene.env, .stdin_data = std::move(script)});
  EXPECT_EQ(long_script.exit_code, 3) << long_script.err;
  EXPECT_NE(long_script.out.find(R"("stdout":"done\n","stderr":"")"), std::string::npos)
      << long_script.out;

  RunResult dash = scene.pendrel({"exec", "here", "-x"});
  EXPECT_EQ(dash.exit_code, 127) << dash.out;
  EXPECT_NE(dash.out.find("-x: not found"), std::string::npos) << dash.out;
}

TEST_F(Requests, TwoMebibytesOfOutputAreCutAtOneAndMarkedTruncated) {
  RunResult result = scene.pendrel({"exec", "here", "head -c 2097152 /dev/zero | tr '\\0' x"});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  EXPECT_NE(result.out.find(R"("truncated":true)"), std::string::npos);
  auto start = result.out.find(R"("stdout":")") + 10;
  auto end = result.out.find('"', start);
  EXPECT_EQ(end - start, 1'048'576u);
}

TEST_F(Requests, CopiesFollowTheScpTargetRules) {
  std::string blob(100'000, '\0');
  std::mt19937 random(7);
  for (auto& byte : blob)
    byte = static_cast<char>(random());
  write_file(scene.home / "src.bin", blob);
  fs::create_directories(scene.home.path() + "/into");
  write_file(scene.home / "old.bin", "old");

  struct Case {
    const char* verb;
    std::string from, to, written;
  };
  const std::string h = scene.home.path();
  const Case cases[] = {
      {"upload", h + "/src.bin", h + "/up.bin", h + "/up.bin"},
      {"download", h + "/up.bin", h + "/back.bin", h + "/back.bin"},  // the round trip
      {"upload", h + "/src.bin", h + "/into", h + "/into/src.bin"},   // an existing directory
      {"download", h + "/src.bin", h + "/new/", h + "/new/src.bin"},  // a trailing slash
      {"upload", h + "/src.bin", h + "/old.bin", h + "/old.bin"},     // overwrite
      {"upload", h + "/src.bin", "rel.bin", h + "/rel.bin"},          // from the home directory
  };
  fs::create_directories(h + "/new");
  for (const auto& c : cases) {
    RunResult result = scene.pendrel({c.verb, "here", c.from, c.to});
    ASSERT_EQ(result.exit_code, 0) << c.verb << " " << c.to << ": " << result.out << result.err;
    EXPECT_EQ(read_file(c.written), blob) << c.written;
    EXPECT_NE(result.out.find(R"("bytes":100000)"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find(c.written), std::string::npos) << "the path used: " << result.out;
  }
  RunResult missing = scene.pendrel({"download", "here", h + "/absent", h + "/x"});
  EXPECT_EQ(missing.exit_code, 5);
  EXPECT_NE(missing.out.find(R"({"error":"path_not_found")"), std::string::npos) << missing.out;
  EXPECT_FALSE(fs::exists(h + "/x"));
}

TEST_F(Requests, EveryRequestLeavesOneAuditLine) {
  ASSERT_EQ(scene.pendrel({"exec", "here", "echo hi"}).exit_code, 0);
  ASSERT_EQ(scene.pendrel({"exec", "nowhere", "echo hi"}).exit_code, 2);
  ASSERT_EQ(scene.pendrel({"ls", "-q", "here"}).exit_code, 0);
  std::string audit = scene.audit();
  std::vector<std::string> lines;
  for (std::size_t start = 0, end; (end = audit.find('\n', start)) != std::string::npos;
       start = end + 1) {
    lines.push_back(audit.substr(start, end - start));
  }
  ASSERT_EQ(lines.size(), 3u) << audit;
  const std::vector<std::vector<std::string>> expected = {
      {R"("kind":"exec")", R"("hostId":"loc1")", R"("hostName":"here")", R"("command":"echo hi")",
       R"("outcome":"ok")", R"("exitCode":0)", R"("bytes":3)", R"("caller":[)"},
      {R"("kind":"exec")", R"("hostName":"nowhere")", R"("outcome":"host_not_found")"},
      {R"("kind":"listHosts")", R"("outcome":"ok")"},
  };
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_TRUE(lines[i].starts_with(R"({"time":"20)")) << lines[i];
    EXPECT_NE(lines[i].find(R"(Z","pid":)"), std::string::npos) << lines[i];
    for (const auto& part : expected[i])
      EXPECT_NE(lines[i].find(part), std::string::npos) << part << " in " << lines[i];
  }
}

TEST_F(Requests, TextModeOnATerminal) {
  RunResult ls = scene.pendrel({"ls"}, StdoutMode::terminal);
  EXPECT_EQ(ls.exit_code, 0);
  EXPECT_NE(ls.out.find("here"), std::string::npos) << ls.out;
  EXPECT_EQ(ls.out.find('{'), std::string::npos) << ls.out;
  RunResult exec = scene.pendrel({"exec", "here", "echo hello"}, StdoutMode::terminal);
  EXPECT_EQ(exec.exit_code, 0);
  EXPECT_NE(exec.out.find("hello"), std::string::npos) << exec.out;
  EXPECT_EQ(exec.out.find("exitCode"), std::string::npos) << exec.out;
}

}  // namespace
}  // namespace pendrel::testing
