// Password input: lines from a descriptor, and a terminal whose echo always comes back.
#include "desktop/broker/vault/password_input.h"

#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>

#include <thread>
#include <vector>

#include "protocol/fd_io.h"

namespace pendrel::desktop {
namespace {

using Read = std::expected<std::string, PasswordInputFailure>;

struct DescriptorCase {
  std::string input;
  std::vector<Read> reads;  // the outcome of each successive read
};

class PasswordFromDescriptor : public ::testing::TestWithParam<DescriptorCase> {};

TEST_P(PasswordFromDescriptor, ReadsOneLineAtATime) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  UniqueFd reader(ends[0]);
  {
    UniqueFd writer(ends[1]);
    ASSERT_TRUE(write_all(writer.get(), GetParam().input).has_value());
  }
  for (const Read& expected : GetParam().reads) {
    auto got = read_password_from_descriptor(reader.get());
    if (expected) {
      ASSERT_TRUE(got.has_value()) << got.error().detail;
      EXPECT_EQ(got->view(), *expected);
    } else {
      ASSERT_FALSE(got.has_value());
      EXPECT_EQ(got.error().failure, expected.error());
    }
  }
}

Read fails(PasswordInputFailure failure) {
  return std::unexpected(failure);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, PasswordFromDescriptor,
    ::testing::Values(DescriptorCase{"first\nsecond\n",
                                     {"first", "second", fails(PasswordInputFailure::cancelled)}},
                      DescriptorCase{"crlf\r\n", {"crlf"}},
                      DescriptorCase{"no line feed", {"no line feed"}},
                      DescriptorCase{"\nafter", {fails(PasswordInputFailure::empty), "after"}},
                      DescriptorCase{"", {fails(PasswordInputFailure::cancelled)}},
                      DescriptorCase{std::string(max_password_bytes, 'x'),
                                     {std::string(max_password_bytes, 'x')}},
                      DescriptorCase{std::string(max_password_bytes + 1, 'x') + "\n",
                                     {fails(PasswordInputFailure::too_long)}}));

// A pseudo-terminal whose master side the test plays, as a person would type.
class Terminal : public ::testing::Test {
 protected:
  void SetUp() override {
    int master_fd = -1;
    int slave_fd = -1;
    ASSERT_EQ(::openpty(&master_fd, &slave_fd, nullptr, nullptr, nullptr), 0);
    master.reset(master_fd);
    slave.reset(slave_fd);
  }

  // Everything the terminal shows until `marker` appears.
  std::string read_screen_until(std::string_view marker) {
    std::string screen;
    char chunk[256];
    while (screen.find(marker) == std::string::npos) {
      const ssize_t got = ::read(master.get(), chunk, sizeof chunk);
      if (got <= 0) break;
      screen.append(chunk, static_cast<std::size_t>(got));
    }
    return screen;
  }

  bool echo_is_on() {
    termios settings{};
    EXPECT_EQ(::tcgetattr(slave.get(), &settings), 0);
    return (settings.c_lflag & ECHO) != 0;
  }

  UniqueFd master;
  UniqueFd slave;
};

TEST_F(Terminal, ReadsWithoutEchoAndRestoresTheSettings) {
  std::string before_typing;
  std::thread person([&] {
    before_typing = read_screen_until("Password: ");
    (void)write_all(master.get(), "hunter2\n");
  });
  auto password = read_password_from_terminal(slave.get(), "Password: ");
  if (!password) slave.reset();  // a failure before the prompt must not leave the person waiting
  person.join();
  ASSERT_TRUE(password.has_value()) << password.error().detail;
  EXPECT_EQ(password->view(), "hunter2");
  EXPECT_TRUE(echo_is_on());
  // Whatever the terminal showed after the prompt arrives before this marker.
  ASSERT_TRUE(write_all(slave.get(), "END").has_value());
  EXPECT_EQ(read_screen_until("END").find("hunter2"), std::string::npos);
}

TEST_F(Terminal, AnInterruptRestoresEchoBeforeTheSignalActs) {
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    (void)read_password_from_terminal(slave.get(), "Password: ");
    // Reached only if the interrupt did not end the process, or the prompt never came.
    (void)write_all(slave.get(), "Password: ");
    ::_exit(3);
  }
  read_screen_until("Password: ");
  EXPECT_FALSE(echo_is_on());
  ASSERT_EQ(::kill(child, SIGINT), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
  EXPECT_TRUE(echo_is_on());
}

}  // namespace
}  // namespace pendrel::desktop
