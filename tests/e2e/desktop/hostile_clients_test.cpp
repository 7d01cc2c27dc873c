// Clients that are not pendrel, held open: silent, slow, oversized, out of order, hundreds at
// once, of another user. Each costs only its own connection, is logged once, and leaves no
// descriptor or thread behind; pendrel is answered meanwhile.
#include <grp.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <thread>

#include "desktop_scene.h"
#include "protocol/channel.h"
#include "protocol/unique_fd.h"

namespace pendrel::testing {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::string frame(std::string_view payload) {
  std::string bytes;
  auto length = static_cast<std::uint32_t>(payload.size());
  for (int shift = 24; shift >= 0; shift -= 8)
    bytes += static_cast<char>((length >> shift) & 0xFFu);
  return bytes + std::string(payload);
}

const std::string hello = frame(R"({"protocol":1,"client":"raw","lang":"en"})");
const std::string list_hosts = frame(R"({"type":"listHosts","data":{"query":""}})");

std::size_t count_of(std::string_view text, std::string_view part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string_view::npos; at = text.find(part, at + 1))
    ++count;
  return count;
}

// Enough descriptors for the test's own clients, and so for the service it starts; false when
// the limit cannot be raised that far.
bool allow_descriptors(rlim_t wanted) {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
  if (limit.rlim_cur >= wanted) return true;
  if (limit.rlim_max < wanted && ::geteuid() == 0) limit.rlim_max = wanted;
  limit.rlim_cur = std::min(wanted, limit.rlim_max);
  return ::setrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur >= wanted;
}

UniqueFd connect_to(const std::string& data_dir) {
  auto socket = open_channel(data_dir);
  return socket ? std::move(*socket) : UniqueFd();
}

void send_all(int socket, std::string_view bytes) {
  if (bytes.empty()) return;
  ASSERT_EQ(::send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL),
            static_cast<ssize_t>(bytes.size()));
}

// Everything the service sends until it closes; a test that waits past `limit` has failed.
std::string read_until_closed(int socket, std::chrono::milliseconds limit = 15s) {
  std::string got;
  auto deadline = Clock::now() + limit;
  char buffer[4096];
  while (Clock::now() < deadline) {
    pollfd entry{socket, POLLIN, 0};
    if (::poll(&entry, 1, 100) <= 0) continue;
    ssize_t n = ::recv(socket, buffer, sizeof buffer, 0);
    if (n <= 0) return got;
    got.append(buffer, static_cast<std::size_t>(n));
  }
  ADD_FAILURE() << "the service did not close the connection";
  return got;
}

std::size_t entries_in(const std::string& directory) {
  std::size_t count = 0;
  std::error_code ignored;
  for (auto it = std::filesystem::directory_iterator(directory, ignored);
       it != std::filesystem::directory_iterator(); it.increment(ignored))
    ++count;
  return count;
}

struct Holdings {
  std::size_t descriptors = 0;
  std::size_t threads = 0;
};

Holdings holdings_of(pid_t pid) {
  std::string proc = "/proc/" + std::to_string(pid);
  return {entries_in(proc + "/fd"), entries_in(proc + "/task")};
}

// Waits until the service holds no more than `baseline` again; what it holds then.
Holdings settle_to(pid_t pid, Holdings baseline) {
  Holdings now = holdings_of(pid);
  for (int attempt = 0; attempt < 500; ++attempt) {
    if (now.descriptors <= baseline.descriptors && now.threads <= baseline.threads) break;
    std::this_thread::sleep_for(20ms);
    now = holdings_of(pid);
  }
  return now;
}

class HostileClients : public ::testing::Test {
 protected:
  void start(std::chrono::milliseconds frame_wait) {
    write_hosts(scene.data_dir, "[" + local_host("loc1", "here") + "]");
    auto env = scene.env;
    env["PENDREL_DESKTOP_TEST_FRAME_WAIT_MS"] = std::to_string(frame_wait.count());
    service.emplace(env, scene.data_dir);
    ASSERT_TRUE(service->ready()) << service->stderr_text();
    // The audit log and the store's files are open once a request has been served.
    ASSERT_EQ(scene.pendrel({"ls"}).exit_code, 0) << service->stderr_text();
    baseline = holdings_of(service->pid());
    log_before = service->stderr_text().size();
  }

  // What the service logged since start(): the fixture's own probe for the socket is not in it.
  [[nodiscard]] std::string new_log() const { return service->stderr_text().substr(log_before); }

  void expect_ls_answers(const char* meanwhile) {
    RunResult ls = run_pendrel({.args = {"ls"}, .env = scene.env, .timeout = 10s});
    EXPECT_FALSE(ls.timed_out) << "ls waited while " << meanwhile;
    EXPECT_EQ(ls.exit_code, 0) << meanwhile << ": " << ls.err;
    EXPECT_NE(ls.out.find("\"here\""), std::string::npos) << ls.out;
  }

  void expect_nothing_held() {
    Holdings after = settle_to(service->pid(), baseline);
    EXPECT_LE(after.descriptors, baseline.descriptors) << "descriptors held after the clients";
    EXPECT_LE(after.threads, baseline.threads) << "threads held after the clients";
  }

  DesktopScene scene;
  std::optional<DesktopService> service;
  Holdings baseline;
  std::size_t log_before = 0;
};

TEST_F(HostileClients, EachIsAnsweredOrClosedAsDocumentedAndLoggedOnce) {
  ASSERT_NO_FATAL_FAILURE(start(3s));
  struct Client {
    const char* name;
    std::string first;        // sent at once
    bool dribble = false;     // then a byte of a frame that never ends, every 200 ms, forever
    bool half_close = false;  // then its sending side is shut
    const char* answer_part;  // "": closed without a byte of answer
  };
  const std::string never_ending = std::string("\x00\x00\x03\xe8", 4);  // 1000 bytes to come
  const Client clients[] = {
      {"sends nothing", "", false, false, ""},
      {"half a length prefix", std::string("\x00\x00", 2), false, false, ""},
      {"announces 4 GiB", "\xff\xff\xff\xff", false, false, ""},
      {"speaks HTTP", "GET / HTTP/1.1\r\nHost: x\r\n\r\n", false, true, ""},
      {"garbage payload", frame("\x01\x02 binary \xff"), false, true, R"("code":"bad_request")"},
      {"hello, then closes", hello, false, true, R"("type":"welcome")"},
      {"request before the hello", list_hosts, false, true, R"("code":"bad_request")"},
      {"two requests", hello + list_hosts + list_hosts, false, true, R"("type":"hosts")"},
      {"dribbles its Hello", never_ending, true, false, ""},
      {"dribbles its request", hello + never_ending, true, false, R"("type":"welcome")"},
  };
  std::vector<UniqueFd> sockets;
  std::vector<std::jthread> dribblers;
  for (const auto& client : clients) {
    sockets.push_back(connect_to(scene.data_dir));
    int socket = sockets.back().get();
    ASSERT_GE(socket, 0) << client.name;
    send_all(socket, client.first);
    if (client.half_close) ::shutdown(socket, SHUT_WR);
    if (client.dribble) {
      dribblers.emplace_back([socket] {
        while (::send(socket, "x", 1, MSG_NOSIGNAL) == 1)
          std::this_thread::sleep_for(200ms);
      });
    }
  }
  expect_ls_answers("hostile clients were connected");

  for (std::size_t i = 0; i < std::size(clients); ++i) {
    std::string answer = read_until_closed(sockets[i].get());
    const char* expected = clients[i].answer_part;
    if (*expected == '\0') {
      EXPECT_EQ(answer, "") << clients[i].name;
    } else {
      // Only the first of two requests is read and answered.
      EXPECT_EQ(count_of(answer, expected), 1u) << clients[i].name << ": " << answer;
    }
  }
  for (auto& dribbler : dribblers)
    dribbler.join();
  sockets.clear();

  std::string log = new_log();
  const std::string ours = "pid " + std::to_string(::getpid());
  struct Line {
    const char* part;
    std::size_t times;
  };
  const Line lines[] = {
      {"dropped before its first frame: nothing sent in time", 1},
      {"dropped before its Hello: no complete frame in time", 2},  // half prefix, dribbled Hello
      {"bytes is over the limit", 2},                              // 4 GiB, HTTP
      {"refused: bad_request", 2},                                 // garbage, request first
      {"dropped before its request: no complete frame in time", 1},
  };
  std::size_t expected_total = 0;
  for (const auto& line : lines) {
    EXPECT_EQ(count_of(log, line.part), line.times) << line.part << "\n" << log;
    expected_total += line.times;
  }
  EXPECT_EQ(count_of(log, ours + ")") + count_of(log, ours + " "), expected_total) << log;
  expect_nothing_held();
}

TEST_F(HostileClients, FiveHundredIdleConnectionsStarveNobody) {
  // Longer than pendrel would wait here (10 s) if idle clients could hold the workers.
  if (!allow_descriptors(1200)) GTEST_SKIP() << "cannot open 1,200 descriptors here";
  ASSERT_NO_FATAL_FAILURE(start(20s));
  std::vector<UniqueFd> idle;
  for (int i = 0; i < 500; ++i) {
    idle.push_back(connect_to(scene.data_dir));
    ASSERT_TRUE(idle.back().valid()) << "connection " << i;
  }
  expect_ls_answers("500 connections idled");
  RunResult status = run_pendrel(
      {.args = {"status"}, .env = scene.env, .program = desktop_binary(), .timeout = 10s});
  EXPECT_EQ(status.exit_code, 0) << "the person's commands are heard too: " << status.err;

  idle.clear();
  expect_nothing_held();
  std::string log = new_log();
  EXPECT_EQ(count_of(log, "dropped before its Hello: closed before a frame"), 500u);
}

// Makes a permitted capability effective again, as PR_SET_KEEPCAPS left it permitted only.
bool raise_capability(int capability) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  if (::syscall(SYS_capget, &header, data) != 0) return false;
  data[capability / 32].effective |= 1u << (capability % 32);
  return ::syscall(SYS_capset, &header, data) == 0;
}

// In a child that becomes `nobody`: whether connecting to `path` fails (1), is closed without
// an answer (0), or is answered (2); 9 when the uid cannot be switched here. With
// `past_the_mode` the child keeps CAP_DAC_OVERRIDE, so that only the credentials stop it.
int connect_as_nobody(const std::string& path, bool past_the_mode) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size());
  pid_t child = ::fork();
  if (child == 0) {
    constexpr uid_t nobody = 65534;
    if (::prctl(PR_SET_KEEPCAPS, 1) != 0 || ::setgroups(0, nullptr) != 0 ||
        ::setresgid(nobody, nobody, nobody) != 0 || ::setresuid(nobody, nobody, nobody) != 0)
      ::_exit(9);
    if (past_the_mode && !raise_capability(CAP_DAC_OVERRIDE)) ::_exit(9);
    int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) ::_exit(1);
    (void)::send(socket, hello.data(), hello.size(), MSG_NOSIGNAL);
    char byte = 0;
    ::_exit(::recv(socket, &byte, 1, 0) > 0 ? 2 : 0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(HostileClients, AnotherUserIsKeptOutByTheModeAndThenByTheCredentials) {
  if (::geteuid() != 0) GTEST_SKIP() << "switching to another uid needs root";
  ASSERT_NO_FATAL_FAILURE(start(3s));
  for (const char* socket : {"/run/cli.sock", "/run/admin.sock"}) {
    std::string path = scene.data_dir + socket;
    int outcome = connect_as_nobody(path, false);
    if (outcome == 9) GTEST_SKIP() << "this machine does not let root switch to nobody";
    EXPECT_EQ(outcome, 1) << socket << ": the mode keeps nobody out";
    EXPECT_EQ(connect_as_nobody(path, true), 0) << socket << ": closed unanswered";
  }
  expect_ls_answers("another user knocked");
  std::string log = new_log();
  EXPECT_EQ(count_of(log, "refused a connection from uid 65534"), 1u) << log;
  EXPECT_EQ(count_of(log, "refused an admin connection from uid 65534"), 1u) << log;
  expect_nothing_held();
}

}  // namespace
}  // namespace pendrel::testing
