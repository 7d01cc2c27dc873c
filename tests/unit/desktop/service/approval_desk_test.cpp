// The approval desk's decisions: each way a waiting match ends, the first end winning over a
// late one, a console attaching late being asked too, and the count of wrong secrets.
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "desktop/shared/service/approval_desk.h"
#include "desktop/shared/service/stop_signal.h"

namespace pendrel::desktop {
namespace {

using namespace std::chrono_literals;

// Waits until `link` has been sent a frame containing `text`.
bool receives(ConsoleLink& link, std::string_view text) {
  for (int tries = 0; tries < 2000; ++tries) {
    for (const auto& frame : link.take())
      if (frame.find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(5ms);
  }
  return false;
}

struct Caller {
  int fds[2] = {-1, -1};
  Caller() { EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0); }
  ~Caller() {
    for (int fd : fds)
      if (fd >= 0) ::close(fd);
  }
  void hang_up() {
    ::close(fds[1]);
    fds[1] = -1;
  }
};

TEST(ApprovalDesk, EachWayAWaitEnds) {
  struct Case {
    const char* name;
    void (*act)(ApprovalDesk&, std::shared_ptr<ConsoleLink>&, Caller&, StopSignal&);
    ApprovalEnd end;
  };
  const Case cases[] = {
      {"approved",
       [](auto& desk, auto&, auto&, auto&) { EXPECT_TRUE(desk.settle(1, ApprovalEnd::approved)); },
       ApprovalEnd::approved},
      {"refused",
       [](auto& desk, auto&, auto&, auto&) { EXPECT_TRUE(desk.settle(1, ApprovalEnd::refused)); },
       ApprovalEnd::refused},
      {"timed out", [](auto&, auto&, auto&, auto&) {}, ApprovalEnd::timed_out},
      {"detached", [](auto& desk, auto& link, auto&, auto&) { desk.detach(link); },
       ApprovalEnd::detached},
      {"locked", [](auto& desk, auto&, auto&, auto&) { desk.settle_all_locked(); },
       ApprovalEnd::locked},
      {"caller gone", [](auto&, auto&, auto& caller, auto&) { caller.hang_up(); },
       ApprovalEnd::caller_gone},
      {"stopping", [](auto&, auto&, auto&, auto& abandon) { abandon.fire(); },
       ApprovalEnd::stopping},
  };
  for (const auto& c : cases) {
    ApprovalDesk desk;
    Caller caller;
    StopSignal abandon;
    auto link = desk.attach(1234);
    auto wait = c.end == ApprovalEnd::timed_out ? 1s : 60s;
    auto asked = std::async(std::launch::async, [&] {
      return desk.ask(ApprovalQuestion{.rule = "power"}, wait, caller.fds[0], abandon.fd());
    });
    ASSERT_TRUE(receives(*link, R"("event":"ask","id":1)")) << c.name;
    EXPECT_TRUE(desk.is_waiting(1));
    c.act(desk, link, caller, abandon);
    EXPECT_EQ(asked.get(), c.end) << c.name;
    EXPECT_FALSE(desk.is_waiting(1)) << c.name;
    EXPECT_FALSE(desk.settle(1, ApprovalEnd::approved)) << c.name << ": a late approval counts";
  }
}

TEST(ApprovalDesk, WithoutAConsoleNothingWaitsAndALateConsoleIsAskedToo) {
  ApprovalDesk desk;
  StopSignal abandon;
  Caller caller;
  EXPECT_EQ(desk.ask({}, 60s, caller.fds[0], abandon.fd()), ApprovalEnd::detached);
  auto first = desk.attach(1);
  auto asked = std::async(std::launch::async, [&] {
    return desk.ask(ApprovalQuestion{.rule = "mkfs"}, 60s, caller.fds[0], abandon.fd());
  });
  ASSERT_TRUE(receives(*first, R"("rule":"mkfs")"));
  auto second = desk.attach(2);
  EXPECT_TRUE(receives(*second, R"("rule":"mkfs")"));
  std::vector<std::shared_ptr<ConsoleLink>> more;
  while (auto link = desk.attach(3))
    more.push_back(link);
  EXPECT_EQ(more.size(), max_consoles - 2);
  for (const auto& link : more)
    desk.detach(link);
  desk.detach(first);  // one console is left: still waiting
  EXPECT_TRUE(desk.is_waiting(1));
  EXPECT_TRUE(desk.settle(1, ApprovalEnd::refused));
  EXPECT_EQ(asked.get(), ApprovalEnd::refused);
  EXPECT_TRUE(receives(*second, R"("event":"settled","id":1,"end":"refused")"));
}

TEST(ApprovalDesk, FiveWrongSecretsStopThePinUntilForgiven) {
  ApprovalDesk desk;
  for (int guess = 0; guess < max_wrong_secrets; ++guess)
    EXPECT_TRUE(desk.begin_secret_check()) << guess;
  EXPECT_FALSE(desk.begin_secret_check());
  desk.secret_was_right();  // the master password, which is always tried
  EXPECT_TRUE(desk.begin_secret_check());
  for (int guess = 0; guess < max_wrong_secrets; ++guess)
    (void)desk.begin_secret_check();
  EXPECT_FALSE(desk.begin_secret_check());
  desk.forgive_wrong_secrets();  // an unlock
  EXPECT_TRUE(desk.begin_secret_check());
}

}  // namespace
}  // namespace pendrel::desktop
