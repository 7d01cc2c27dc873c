#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "desktop/shared/terminal/output_ring.h"
#include "desktop/shared/terminal/stream_scanner.h"
#include "desktop/shared/terminal/terminal.h"
#include "desktop/shared/terminal/terminal_frames.h"
#include "desktop/shared/terminal/terminal_registry.h"

namespace pendrel::desktop {
namespace {

TEST(StreamScanner, FollowsModesAndMarksSplitAnywhere) {
  struct Case {
    std::string output;
    ScannerState expected;
  };
  const Case cases[] = {
      {"\x1b[?1049h", {true, false, PromptMark::none}},
      {"\x1b[?1049h text \x1b[?1049l", {false, false, PromptMark::none}},
      {"\x1b[?47h", {true, false, PromptMark::none}},
      {"\x1b[?1047h", {true, false, PromptMark::none}},
      {"\x1b[?2004h", {false, true, PromptMark::none}},
      {"\x1b[?1;2004;1049h", {true, true, PromptMark::none}},
      {"\x1b[?2004h\x1b[?2004l", {false, false, PromptMark::none}},
      {"\x1b]133;A\x07$ \x1b]133;B\x07", {false, false, PromptMark::input}},
      {"\x1b]133;C\x1b\\out", {false, false, PromptMark::running}},
      {"\x1b]133;D;0\x07", {false, false, PromptMark::finished}},
      // Not ours: a plain mode, a title, a cut-off sequence, an overlong string.
      {"\x1b[1049h\x1b]0;title\x07", {false, false, PromptMark::none}},
      {"\x1b[?10\x1b[?2004h", {false, true, PromptMark::none}},
      {"\x1b]133;" + std::string(1000, 'x') + "A\x07", {false, false, PromptMark::none}},
      {"\x1b]0;a\x1b[?1049h", {true, false, PromptMark::none}},
  };
  for (const auto& c : cases) {
    for (std::size_t split = 0; split <= c.output.size(); ++split) {
      StreamScanner scanner;
      scanner.scan(std::string_view(c.output).substr(0, split));
      scanner.scan(std::string_view(c.output).substr(split));
      const auto& state = scanner.state();
      EXPECT_EQ(state.alternate_screen, c.expected.alternate_screen) << c.output << " @" << split;
      EXPECT_EQ(state.bracketed_paste, c.expected.bracketed_paste) << c.output << " @" << split;
      EXPECT_EQ(state.prompt, c.expected.prompt) << c.output << " @" << split;
    }
  }
}

TEST(OutputRing, KeepsTheNewestBytesInOrder) {
  OutputRing ring(8);
  ring.append("abc");
  EXPECT_EQ(ring.contents(), "abc");
  ring.append("defgh");
  EXPECT_EQ(ring.contents(), "abcdefgh");
  ring.append("ij");
  EXPECT_EQ(ring.contents(), "cdefghij");
  ring.append("0123456789");
  EXPECT_EQ(ring.contents(), "23456789");
  ring.append("x");
  EXPECT_EQ(ring.contents(), "3456789x");
}

TEST(TerminalFrames, ReadBackWhateverThePieces) {
  std::string stream = terminal_frame(TerminalFrameKind::data, "ls\r") + window_frame({40, 132}) +
                       ended_frame({3, ""}) +
                       ended_frame({std::nullopt, "the connection to web-1 was lost"});
  TerminalFrameReader reader;
  std::vector<TerminalFrame> frames;
  for (char byte : stream) {
    reader.feed(std::string_view(&byte, 1));
    while (auto frame = reader.next())
      frames.push_back(*frame);
  }
  ASSERT_EQ(frames.size(), 4u);
  EXPECT_EQ(frames[0].body, "ls\r");
  auto size = window_of(frames[1].body);
  ASSERT_TRUE(size);
  EXPECT_EQ(size->rows, 40);
  EXPECT_EQ(size->columns, 132);
  EXPECT_EQ(ending_of(frames[2].body).exit_status, 3);
  auto lost = ending_of(frames[3].body);
  EXPECT_FALSE(lost.exit_status);
  EXPECT_EQ(lost.reason, "the connection to web-1 was lost");

  TerminalFrameReader hostile;
  hostile.feed(std::string("\xff\xff\xff\xff", 4));
  EXPECT_FALSE(hostile.next());
  EXPECT_TRUE(hostile.broken());
}

// A shell stand-in: one end of a socket pair, the test holding the other.
class PairShell final : public TerminalBackend {
 public:
  explicit PairShell(int fd, std::vector<WindowSize>* sizes) : fd_(fd), sizes_(sizes) {
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
  }
  ~PairShell() override { ::close(fd_); }
  int descriptor() const override { return fd_; }
  void resize(WindowSize size) override {
    std::lock_guard lock(mutex);
    sizes_->push_back(size);
  }
  std::optional<bool> shell_in_foreground() const override { return std::nullopt; }
  ShellEnding ending() override { return {7, ""}; }
  void hang_up() override { ::shutdown(fd_, SHUT_RDWR); }
  static inline std::mutex mutex;

 private:
  int fd_;
  std::vector<WindowSize>* sizes_;
};

std::array<int, 2> socket_pair() {
  std::array<int, 2> ends{};
  EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends.data()), 0);
  return ends;
}

// Reads frames from a client end until `want` says it has enough or the stream ends.
std::vector<TerminalFrame> read_frames(int fd,
                                       const std::function<bool(const TerminalFrame&)>& want) {
  TerminalFrameReader reader;
  std::vector<TerminalFrame> frames;
  char buffer[65536];
  for (;;) {
    pollfd entry{fd, POLLIN, 0};
    if (::poll(&entry, 1, 10000) <= 0) return frames;
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got <= 0) return frames;
    reader.feed(std::string_view(buffer, static_cast<std::size_t>(got)));
    while (auto frame = reader.next()) {
      frames.push_back(*frame);
      if (want(frames.back())) return frames;
    }
  }
}

std::string data_of(const std::vector<TerminalFrame>& frames) {
  std::string data;
  for (const auto& frame : frames)
    if (frame.kind == TerminalFrameKind::data) data += frame.body;
  return data;
}

TEST(Terminal, ReplaysTakesOverAndEnds) {
  auto shell = socket_pair();
  std::vector<WindowSize> sizes;
  std::vector<TerminalEventKind> events;
  std::mutex events_mutex;
  TerminalRegistry registry("t", [&](const TerminalEvent& event) {
    std::lock_guard lock(events_mutex);
    events.push_back(event.kind);
  });
  auto terminal =
      registry.open("web-1", "web-1", std::make_unique<PairShell>(shell[1], &sizes), {24, 80});
  ASSERT_TRUE(terminal);
  EXPECT_EQ(terminal->info().id, "t1");

  // Output while nobody is attached is replayed to the first client.
  ASSERT_EQ(::write(shell[0], "before\r\n", 8), 8);
  auto first = socket_pair();
  // The output must have been taken before the attach: wait until the terminal read it.
  for (int i = 0; i < 1000; ++i) {
    pollfd entry{shell[1], POLLIN, 0};
    if (::poll(&entry, 1, 0) == 0) break;
    ::usleep(1000);
  }
  terminal->attach(UniqueFd(first[1]), {30, 100}, 1);
  auto replay = read_frames(first[0], [](const TerminalFrame& frame) {
    return frame.body.find("before") != std::string::npos;
  });
  EXPECT_NE(data_of(replay).find("before"), std::string::npos);

  // Input reaches the shell; a second client takes over and the first is told.
  std::string typed = terminal_frame(TerminalFrameKind::data, "ls\r");
  ASSERT_EQ(::write(first[0], typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
  char got[16] = {};
  pollfd wait_input{shell[0], POLLIN, 0};
  ASSERT_EQ(::poll(&wait_input, 1, 10000), 1);
  EXPECT_EQ(std::string(got, static_cast<std::size_t>(::read(shell[0], got, sizeof got))), "ls\r");

  auto second = socket_pair();
  terminal->attach(UniqueFd(second[1]), {30, 100}, 2);
  auto told = read_frames(first[0], [](const TerminalFrame& frame) {
    return frame.kind == TerminalFrameKind::taken_over;
  });
  ASSERT_FALSE(told.empty());
  EXPECT_EQ(told.back().kind, TerminalFrameKind::taken_over);

  // The shell's end reaches the attached client with its status.
  ::shutdown(shell[0], SHUT_RDWR);
  auto end = read_frames(
      second[0], [](const TerminalFrame& frame) { return frame.kind == TerminalFrameKind::ended; });
  ASSERT_FALSE(end.empty());
  EXPECT_EQ(end.back().kind, TerminalFrameKind::ended);
  EXPECT_EQ(ending_of(end.back().body).exit_status, 7);
  // A client that comes after the end learns it too, rather than waiting for nothing.
  while (!terminal->ended())
    std::this_thread::yield();
  auto late = socket_pair();
  terminal->attach(UniqueFd(late[1]), {30, 100}, 3);
  auto told_late = read_frames(
      late[0], [](const TerminalFrame& frame) { return frame.kind == TerminalFrameKind::ended; });
  ASSERT_FALSE(told_late.empty());
  EXPECT_EQ(ending_of(told_late.back().body).exit_status, 7);
  ::close(late[0]);
  terminal.reset();
  registry.end_all("done");
  std::lock_guard lock(events_mutex);
  EXPECT_EQ(events, (std::vector<TerminalEventKind>{
                        TerminalEventKind::opened, TerminalEventKind::attached,
                        TerminalEventKind::taken_over, TerminalEventKind::attached,
                        TerminalEventKind::detached, TerminalEventKind::closed}));
  // Each attach made the remote shell redraw: one row less, then the client's size.
  std::lock_guard sizes_lock(PairShell::mutex);
  ASSERT_GE(sizes.size(), 2u);
  EXPECT_EQ(sizes[0].rows, 29);
  EXPECT_EQ(sizes[1].rows, 30);
  ::close(shell[0]);
  ::close(first[0]);
  ::close(second[0]);
}

TEST(Terminal, SlowClientStopsTheShellsReading) {
  auto shell = socket_pair();
  std::vector<WindowSize> sizes;
  TerminalRegistry registry("t", nullptr);
  auto terminal = registry.open("h", "h", std::make_unique<PairShell>(shell[1], &sizes), {24, 80});
  auto client = socket_pair();
  terminal->attach(UniqueFd(client[1]), {24, 80}, 1);
  // The client never reads: the shell's writes must stop once about a MiB waits for it,
  // plus what the sockets' buffers hold.
  ::fcntl(shell[0], F_SETFL, ::fcntl(shell[0], F_GETFL) | O_NONBLOCK);
  std::string chunk(65536, 'x');
  std::size_t written = 0;
  for (int idle = 0; idle < 200 && written < 64u * 1024 * 1024;) {
    ssize_t n = ::write(shell[0], chunk.data(), chunk.size());
    if (n > 0) {
      written += static_cast<std::size_t>(n);
      idle = 0;
    } else {
      ++idle;
      ::usleep(5000);
    }
  }
  EXPECT_LT(written, 16u * 1024 * 1024);
  terminal.reset();
  registry.end_all("done");
  ::close(shell[0]);
  ::close(client[0]);
}

}  // namespace
}  // namespace pendrel::desktop
