// pendrel-mcp on a raw pipe, where no SDK would send what a broken or hasty client sends:
// protocol faults answered as JSON-RPC errors without ending the server, and the end of
// standard input ending the calls in flight.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "support/fake_peer.h"
#include "support/run_pendrel.h"
#include "support/temp_dir.h"

namespace pendrel::testing {
namespace {

using namespace std::chrono_literals;

// pendrel-mcp is built beside pendrel.
std::string mcp_binary() {
  std::string pendrel = pendrel_binary();
  return pendrel.substr(0, pendrel.rfind('/') + 1) + "pendrel-mcp";
}

constexpr const char* initialize =
    R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2025-11-25"}})";

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);)
    lines.push_back(line);
  return lines;
}

TEST(McpPipe, ProtocolFaultsAreJsonRpcErrorsAndTheServerCarriesOn) {
  TempDir home;
  auto env = base_environment(home.path());
  env["PENDREL_DATA_DIR"] = home / "data";
  const std::string input =
      std::string("not json\n") + R"({"jsonrpc":"2.0","id":7,"method":"tools/list"})" + "\n" +
      R"([1,2])" + "\n\n" + initialize + "\n" +
      R"({"jsonrpc":"2.0","method":"notifications/initialized"})" + "\n" +
      R"({"jsonrpc":"2.0","id":"a","method":"resources/list"})" + "\n" +
      R"({"jsonrpc":"2.0","id":2,"method":"tools/call","params":{"name":"ssh"}})" + "\n" +
      R"({"jsonrpc":"2.0","id":3,"method":"ping"})" + "\n";
  RunResult result =
      run_pendrel({.args = {}, .env = env, .stdin_data = input, .program = mcp_binary()});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  const std::vector<std::string> expected_starts = {
      R"({"jsonrpc":"2.0","id":null,"error":{"code":-32700,)",
      R"({"jsonrpc":"2.0","id":7,"error":{"code":-32600,)",
      R"({"jsonrpc":"2.0","id":null,"error":{"code":-32600,)",
      R"({"jsonrpc":"2.0","id":1,"result":{"protocolVersion":"2025-11-25",)",
      R"({"jsonrpc":"2.0","id":"a","error":{"code":-32601,)",
      R"({"jsonrpc":"2.0","id":2,"error":{"code":-32602,"message":"unknown tool: ssh"}})",
      R"({"jsonrpc":"2.0","id":3,"result":{}})",
  };
  const auto lines = lines_of(result.out);
  ASSERT_EQ(lines.size(), expected_starts.size()) << result.out;
  for (std::size_t i = 0; i < lines.size(); ++i)
    EXPECT_TRUE(lines[i].starts_with(expected_starts[i])) << lines[i];
}

// pendrel-mcp with pipes on both ends, so that the test chooses when its input ends.
class McpProcess {
 public:
  explicit McpProcess(const std::map<std::string, std::string>& env) {
    int in[2];
    int out[2];
    EXPECT_EQ(::pipe2(in, O_CLOEXEC), 0);
    EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const std::string program = mcp_binary();
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    ExecEnvironment environment(env);
    EXPECT_EQ(::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, environment.data()),
              0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    stdin_ = in[1];
    stdout_ = out[0];
  }
  ~McpProcess() {
    close_stdin();
    if (pid_ > 0 && exit_code(0ms) == -2) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    ::close(stdout_);
  }

  void send(const std::string& line) { ASSERT_TRUE(::write(stdin_, line.data(), line.size()) > 0); }
  void close_stdin() {
    if (stdin_ >= 0) ::close(stdin_);
    stdin_ = -1;
  }
  // Everything written to standard output until it closes.
  std::string output() const {
    std::string text;
    char chunk[4096];
    for (ssize_t n; (n = ::read(stdout_, chunk, sizeof chunk)) > 0;)
      text.append(chunk, static_cast<std::size_t>(n));
    return text;
  }
  // The exit code once the process has ended within `timeout`; -2 while it runs.
  int exit_code(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      if (std::chrono::steady_clock::now() >= deadline) return -2;
      std::this_thread::sleep_for(10ms);
    }
  }

 private:
  pid_t pid_ = -1;
  int stdin_ = -1;
  int stdout_ = -1;
};

TEST(McpPipe, TheEndOfInputEndsTheCallsInFlightWithoutAnAnswer) {
  TempDir home;
  auto env = base_environment(home.path());
  env["PENDREL_DATA_DIR"] = home / "data";
  // The service takes the request and never answers: the call stays in flight.
  FakePeer peer(home / "data", {{PeerAction::read(), PeerAction::send(default_welcome),
                                 PeerAction::read(), PeerAction::drain()}});
  McpProcess mcp(env);
  mcp.send(std::string(initialize) + "\n" +
           R"({"jsonrpc":"2.0","id":2,"method":"tools/call","params":{"name":"pendrel_exec",)"
           R"("arguments":{"host":"web","command":"sleep 600"}}})" +
           "\n");
  ASSERT_TRUE(peer.wait_for_frames(2, 10s));
  const auto closed_at = std::chrono::steady_clock::now();
  mcp.close_stdin();
  EXPECT_EQ(mcp.exit_code(5s), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - closed_at, 1500ms);
  const auto lines = lines_of(mcp.output());
  ASSERT_EQ(lines.size(), 1U);
  EXPECT_TRUE(lines[0].starts_with(R"({"jsonrpc":"2.0","id":1,"result":)")) << lines[0];
  EXPECT_NE(peer.received()[1].find(R"("caller":[")"), std::string::npos) << peer.received()[1];
}

}  // namespace
}  // namespace pendrel::testing
