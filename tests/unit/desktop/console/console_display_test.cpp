// The console's screen and state: nothing a caller sends reaches the terminal as a control
// sequence, the match is marked where it lies, and the countdown and queue of questions.
#include <gtest/gtest.h>

#include <cstring>

#include "desktop/broker/console/console_display.h"
#include "desktop/broker/console/pending_questions.h"

namespace pendrel::desktop {
namespace {

using namespace std::chrono_literals;

constexpr std::string_view mark_on = "\033[7m";
constexpr std::string_view mark_off = "\033[27m";

AskEvent ask_about(std::string command, std::string_view match, std::uint64_t id = 1) {
  AskEvent ask;
  ask.id = id;
  ask.host = "here (loc1)";
  ask.rule = "rm-root";
  ask.match_begin = command.find(match);
  ask.match_end = ask.match_begin + match.size();
  ask.command = std::move(command);
  ask.wait_ms = 60'000;
  return ask;
}

// The text between the reverse-video marks, which must come in one pair per marked line.
std::string marked(const std::string& block) {
  std::string inside;
  for (std::size_t at = block.find(mark_on); at != std::string::npos;
       at = block.find(mark_on, at + 1)) {
    std::size_t end = block.find(mark_off, at);
    if (end == std::string::npos) return "unclosed";
    inside += block.substr(at + mark_on.size(), end - at - mark_on.size()) + "|";
  }
  return inside;
}

TEST(TerminalSafe, NoControlOrFormattingCharacterPassesThrough) {
  struct Case {
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"rm -rf /", "rm -rf /"},
      {"echo 你好", "echo 你好"},
      {"a\033[2Kb", "a\\x1b[2Kb"},          // erase line
      {"ok\rrm -rf /", "ok\\x0drm -rf /"},  // back to the line start
      {"a\tb", "a\\tb"},
      {"x\x7fy", "x\\x7fy"},
      {"\xc2\x9b"
       "31m",
       "\\u{9b}31m"},                                         // C1 CSI
      {"safe\xe2\x80\xae/ fr- mr", "safe\\u{202e}/ fr- mr"},  // right-to-left override
      {"r\xe2\x80\x8bm", "r\\u{200b}m"},                      // zero-width space
      {"bad\xff", "bad\xef\xbf\xbd"},                         // not UTF-8
  };
  for (const auto& c : cases)
    EXPECT_EQ(terminal_safe(c.in), c.out) << c.in;
}

TEST(QuestionBlock, MarksTheMatchWhereItLies) {
  struct Case {
    std::string command;
    std::string match;
    std::string marked;  // what is between the marks, a | after each marked piece
  };
  const Case cases[] = {
      {"touch x; rm -rf /", "rm -rf /", "rm -rf /|"},
      {"cd /\nrm -rf /\necho done\n", "rm -rf /", "rm -rf /|"},
      // A match across lines (an `sh -c` script word) is marked on each of them.
      {"sh -c 'ls\nreboot'", "'ls\nreboot'", "'ls|reboot'|"},
      // Escapes inside the match are shown, not obeyed.
      {"rm -rf /\033[8m", "rm -rf /\033[8m", "rm -rf /\\x1b[8m|"},
  };
  for (const auto& c : cases) {
    std::string block = question_block(ask_about(c.command, c.match));
    EXPECT_EQ(marked(block), c.marked) << block;
    EXPECT_EQ(block.find('\033', block.find("command:")),
              block.find(mark_on, block.find("command:")))
        << "the only escapes below the header are the marks: " << block;
    EXPECT_NE(block.find("host:    here (loc1)"), std::string::npos) << block;
    EXPECT_NE(block.find("callers: (none given)"), std::string::npos) << block;
  }
}

TEST(QuestionBlock, ALongScriptShowsTheLinesAroundTheMatch) {
  std::string script;
  for (int line = 1; line <= 500; ++line)
    script += line == 300 ? "mkfs.ext4 /dev/sdb1\n" : "echo line " + std::to_string(line) + "\n";
  std::string block = question_block(ask_about(script, "mkfs.ext4 /dev/sdb1"));
  EXPECT_NE(block.find("command: 500 lines"), std::string::npos);
  EXPECT_NE(block.find("… 279 lines above"), std::string::npos) << block;
  EXPECT_NE(block.find(" 300 | " + std::string(mark_on) + "mkfs.ext4"), std::string::npos);
  EXPECT_NE(block.find("… 180 lines below"), std::string::npos) << block;
  EXPECT_EQ(block.find("echo line 1\n"), std::string::npos);

  // One line of a mebibyte shows the part around the match.
  std::string line(1 << 20, 'x');
  line.replace(700'000, 8, "rm -rf /");
  block = question_block(ask_about(line, "rm -rf /"));
  EXPECT_LT(block.size(), 4000u);
  EXPECT_EQ(marked(block), "rm -rf /|");
}

TEST(PendingQuestions, OldestFirstCountedDownOnce) {
  PendingQuestions pending;
  auto now = PendingQuestions::Clock::now();
  EXPECT_EQ(pending.current(), nullptr);
  pending.add(ask_about("reboot", "reboot", 4), now);
  pending.add(ask_about("halt", "halt", 5), now + 10s);
  pending.add(ask_about("reboot", "reboot", 4), now + 20s);  // sent again on attaching
  ASSERT_EQ(pending.size(), 2u);
  EXPECT_EQ(pending.current()->id, 4u);
  EXPECT_EQ(pending.seconds_left(now), 60u);
  EXPECT_EQ(pending.seconds_left(now + 59'001ms), 1u);  // rounded up
  EXPECT_EQ(pending.seconds_left(now + 61s), 0u);
  EXPECT_FALSE(pending.remove(9));
  EXPECT_TRUE(pending.remove(4));
  EXPECT_EQ(pending.current()->id, 5u);
  EXPECT_EQ(pending.seconds_left(now + 10s), 60u);
  std::string prompt = prompt_line(PromptMode::deciding, pending.current(), 12, 1);
  EXPECT_NE(prompt.find("#5 rm-root: 12 s left"), std::string::npos) << prompt;
  EXPECT_NE(prompt.find("[r] refuse"), std::string::npos);
}

TEST(ConsoleEvents, AMatchOutsideTheTextIsKeptInside) {
  std::string json =
      R"({"event":"ask","id":3,"host":"h","callers":["a","b"],"command":"reboot","matchBegin":2,)"
      R"("matchEnd":999,"omittedBefore":0,"omittedAfter":0,"rule":"power","descriptionEn":"",)"
      R"("descriptionZh":"","waitMs":5000})";
  PaddedPayload frame{std::make_unique<char[]>(json.size() + 64), json.size()};
  std::memcpy(frame.bytes.get(), json.data(), json.size());
  auto event = decode_console_event(frame);
  ASSERT_TRUE(event) << event.error();
  const auto& ask = std::get<AskEvent>(*event);
  EXPECT_EQ(ask.match_begin, 2u);
  EXPECT_EQ(ask.match_end, 6u);
  EXPECT_EQ(ask.callers, (std::vector<std::string>{"a", "b"}));
}

}  // namespace
}  // namespace pendrel::desktop
