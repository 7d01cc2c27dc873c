// Capturing an agent command's answer from a terminal's output: marks split anywhere, other
// nonces, CR LF, the prompt coming back without an end mark, and the output's bound.
#include "desktop/shared/terminal/captured_output.h"

#include <gtest/gtest.h>

#include "desktop/shared/terminal/command_marks.h"

namespace pendrel::desktop {
namespace {

const std::string nonce = "0123456789abcdef0123456789abcdef";
const std::string other = "fedcba9876543210fedcba9876543210";

std::string end_mark(std::string_view of, int status) {
  return end_mark_prefix(of) + std::to_string(status) + "\a";
}

// What a shell shows for the typed line before the command's output starts.
const std::string echo = " (printf '\\033]7337;S;" + nonce + "\\007'; sh -c 'x') | command cat\r\n";

struct Case {
  std::string name;
  std::string stream;
  std::optional<CapturedAnswer> expected;  // nullopt: still capturing at the end
};

void expect_answer(const CapturedOutput& captured, const Case& c, const std::string& how) {
  if (!c.expected) {
    EXPECT_NE(captured.stage(), CapturedOutput::Stage::finished) << c.name << how;
    return;
  }
  ASSERT_EQ(captured.stage(), CapturedOutput::Stage::finished) << c.name << how;
  const CapturedAnswer got = captured.answer();
  EXPECT_EQ(got.output.text, c.expected->output.text) << c.name << how;
  EXPECT_EQ(got.output.truncated, c.expected->output.truncated) << c.name << how;
  EXPECT_EQ(got.exit_code, c.expected->exit_code) << c.name << how;
  EXPECT_EQ(got.interrupted, c.expected->interrupted) << c.name << how;
}

CapturedAnswer ended(std::string text, int status) {
  return CapturedAnswer{status, {std::move(text), false}, false};
}
CapturedAnswer interrupted(std::string text) {
  return CapturedAnswer{interrupted_exit_code, {std::move(text), false}, true};
}

TEST(CapturedOutput, TakesWhatLiesBetweenItsMarksHoweverTheOutputIsSplit) {
  const std::string start = start_mark(nonce);
  const std::string prompt = "\x1b[?2004hpd$ ";
  const Case cases[] = {
      {"output and status", echo + start + "one\r\ntwo\r\n" + end_mark(nonce, 0) + prompt,
       ended("one\ntwo\n", 0)},
      {"exit status 3", start + "x" + end_mark(nonce, 3), ended("x", 3)},
      {"exit status 255", start + end_mark(nonce, 255), ended("", 255)},
      {"a lone CR stays, CR LF is LF", start + "50%\r100%\r\n\r\r\nend\r" + end_mark(nonce, 0),
       ended("50%\r100%\n\r\nend\r", 0)},
      {"the echo of the marks is text, not a mark",
       "printf '\\033]7337;S;" + nonce + "\\007'\r\n" + start + "in" + end_mark(nonce, 1),
       ended("in", 1)},
      {"another nonce's start is skipped",
       start_mark(other) + "no" + start + "yes" + end_mark(nonce, 0), ended("yes", 0)},
      {"another nonce's end is output", start + "a" + end_mark(other, 4) + "b" + end_mark(nonce, 2),
       ended("a" + end_mark(other, 4) + "b", 2)},
      {"escape sequences of the command stay",
       start + "\x1b[31mred\x1b[0m\x1b]7337;X\a" + end_mark(nonce, 0),
       ended("\x1b[31mred\x1b[0m\x1b]7337;X\a", 0)},
      {"a status that is no number is output",
       start + end_mark_prefix(nonce) + "x\a" + "after" + end_mark(nonce, 0),
       ended(end_mark_prefix(nonce) + "x\aafter", 0)},
      {"prompts before the start are those of earlier lines",
       prompt + "pd$ \x1b]133;A\a" + start + "ok" + end_mark(nonce, 0), ended("ok", 0)},
      {"the prompt back without an end mark: Ctrl-C", echo + start + "partial\r\n^C\r\n" + prompt,
       interrupted("partial\n^C\n")},
      {"a prompt mark back without an end mark", start + "p\x1b]133;A\apd$ ", interrupted("p")},
      {"no end mark yet", echo + start + "still running\r\n", std::nullopt},
      {"no start mark yet", echo + "pd$ ", std::nullopt},
  };
  for (const Case& c : cases) {
    {
      CapturedOutput whole(nonce);
      whole.feed(c.stream);
      expect_answer(whole, c, " (whole)");
    }
    {
      CapturedOutput bytewise(nonce);
      for (char byte : c.stream)
        bytewise.feed(std::string_view(&byte, 1));
      expect_answer(bytewise, c, " (a byte at a time)");
    }
    for (std::size_t cut = 1; cut < c.stream.size(); ++cut) {
      CapturedOutput split(nonce);
      split.feed(std::string_view(c.stream).substr(0, cut));
      split.feed(std::string_view(c.stream).substr(cut));
      expect_answer(split, c, " (split at " + std::to_string(cut) + ")");
    }
  }
}

TEST(CapturedOutput, StopsAtTheEndMarkAndAtAPromptTheCallerSaw) {
  CapturedOutput captured(nonce);
  captured.feed(start_mark(nonce) + "a" + end_mark(nonce, 0) + "after the end");
  captured.note_prompt_returned();
  EXPECT_EQ(captured.answer().output.text, "a");
  EXPECT_EQ(captured.answer().exit_code, 0);

  CapturedOutput local(nonce);
  local.feed(start_mark(nonce) + "half\r\n\x1b]7337;E;");
  local.note_prompt_returned();
  EXPECT_TRUE(local.answer().interrupted);
  EXPECT_EQ(local.answer().exit_code, interrupted_exit_code);
  EXPECT_EQ(local.answer().output.text, "half\n\x1b]7337;E;");
}

TEST(CapturedOutput, CutsAtTheBoundOnACharacterBoundary) {
  const std::string euro = "\xE2\x82\xAC";
  struct Cut {
    std::string name;
    std::string output;
    std::string text;
    bool truncated;
  } cuts[] = {
      {"exactly the bound", std::string(max_captured_bytes, 'a'),
       std::string(max_captured_bytes, 'a'), false},
      {"a character across the bound is left out",
       std::string(max_captured_bytes - 1, 'a') + euro + "tail",
       std::string(max_captured_bytes - 1, 'a'), true},
      {"CR LF counts as one byte",
       std::string(max_captured_bytes / 2, 'a') +
           [] {
             std::string lines;
             for (std::size_t i = 0; i < max_captured_bytes / 2; ++i)
               lines += "\r\n";
             return lines;
           }(),
       std::string(max_captured_bytes / 2, 'a') + std::string(max_captured_bytes / 2, '\n'), false},
  };
  for (const Cut& c : cuts) {
    CapturedOutput captured(nonce);
    captured.feed(start_mark(nonce));
    // In terminal-sized reads, as the output arrives.
    for (std::size_t at = 0; at < c.output.size(); at += 4096)
      captured.feed(std::string_view(c.output).substr(at, 4096));
    captured.feed(end_mark(nonce, 0));
    const CapturedAnswer answer = captured.answer();
    EXPECT_EQ(answer.output.text.size(), c.text.size()) << c.name;
    EXPECT_TRUE(answer.output.text == c.text) << c.name;
    EXPECT_EQ(answer.output.truncated, c.truncated) << c.name;
  }
}

}  // namespace
}  // namespace pendrel::desktop
