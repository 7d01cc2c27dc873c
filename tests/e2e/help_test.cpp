// The help texts, compared byte for byte with the text written out here, and their layout.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "support/run_pendrel.h"
#include "support/temp_dir.h"

namespace pendrel::testing {
namespace {

// clang-format off
const std::vector<std::string_view> english_help_lines = {
    "pendrel — run remote commands and transfer files via hosts saved in Pendrel",
    "",
    "Usage:",
    "  pendrel ls [-q <keyword>]                       List hosts that allow CLI access (no credentials)",
    "  pendrel exec <host> \"<command>\"                 Run a remote command (new connection each time, stateless)",
    "  pendrel exec <host> --stdin                     Read the command from stdin (avoids shell escaping)",
    "  pendrel exec --terminal <host> \"<command>\"      Run it in the terminal of this host already open in Pendrel (visible",
    "                                                  to the user; for servers behind bastions that refuse new connections;",
    "                                                  needs bash / sh)",
    "  pendrel upload <host> <local-file> <remote>     Upload a single file (scp semantics)",
    "  pendrel download <host> <remote-file> <local>   Download a single file (local may be . or an existing directory)",
    "  pendrel skill                                   Print the Agent Skill file (SKILL.md)",
    "  pendrel skill install [--agent <target>]        Install for claude (Claude Code, default), agents (shared ~/.agents/skills,",
    "                                                  read by Codex, Cursor, Gemini CLI and others; codex is an alias) or workbuddy",
    "  pendrel skill install --dir <dir>               Install into the given skills directory",
    "  pendrel version                                 Print the version",
    "  pendrel help                                    Print this help",
    "",
    "<host> can be an ID or a name from pendrel ls.",
    "",
    "Output: human-readable text when stdout is a terminal, JSON when piped or captured",
    "(field names and error codes are always English).",
    "",
    "Exit codes:",
    "  0  success",
    "  1  usage error",
    "  2  host not found",
    "  3  host does not allow CLI access",
    "  4  command blocked by a dangerous-command rule",
    "  5  connection or execution failed",
    "  6  credentials are locked",
    "  7  external CLI is turned off (turn it on in Pendrel under Settings → Command-line tool)",
    "  other  exec passes through the remote command's exit code once connected",
    "",
    "Language: follows LC_ALL / LC_MESSAGES / LANG or the system UI language; override with PENDREL_LANG=en|zh.",
};
const std::vector<std::string_view> chinese_help_lines = {
    "pendrel — 通过 Pendrel 中保存的主机执行远程命令、传输文件",
    "",
    "用法:",
    "  pendrel ls [-q <关键词>]                        列出允许 CLI 访问的主机（不含凭据）",
    "  pendrel exec <主机> \"<命令>\"                    执行一条远程命令（每次新建连接，无状态）",
    "  pendrel exec <主机> --stdin                     从标准输入读取命令（规避 shell 转义问题）",
    "  pendrel exec --terminal <主机> \"<命令>\"         在 Pendrel 中已打开的这台主机的终端里执行（用户看得见；",
    "                                                  堡垒机后面的服务器不能新建连接时使用；需要 bash / sh）",
    "  pendrel upload <主机> <本地文件> <远程路径>       上传单个文件（scp 语义）",
    "  pendrel download <主机> <远程文件> <本地路径>     下载单个文件（本地路径可为 . 或已存在的目录）",
    "  pendrel skill                                   打印 Agent Skill 文件（SKILL.md）",
    "  pendrel skill install [--agent <位置>]          安装到 claude（Claude Code，默认）、agents（通用目录 ~/.agents/skills，",
    "                                                  Codex、Cursor、Gemini CLI 等读取；codex 等同 agents）或 workbuddy",
    "  pendrel skill install --dir <目录>              安装到指定的 skills 目录",
    "  pendrel version                                 打印版本号",
    "  pendrel help                                    打印本帮助",
    "",
    "<主机> 可以是 pendrel ls 中的 ID 或名称。",
    "",
    "输出: 标准输出是终端时为可读文本，被管道或程序捕获时为 JSON（字段名与错误码固定为英文）。",
    "",
    "退出码:",
    "  0  成功",
    "  1  用法错误",
    "  2  主机不存在",
    "  3  主机未允许 CLI 访问",
    "  4  命令命中危险命令规则被拦截",
    "  5  连接或执行失败",
    "  6  凭据已锁定",
    "  7  外部 CLI 已关闭（在 Pendrel 设置中的「命令行工具」中开启）",
    "  其他  exec 连接成功后透传远程命令的退出码",
    "",
    "语言: 跟随 LC_ALL / LC_MESSAGES / LANG 或系统界面语言，可用 PENDREL_LANG=en|zh 指定。",
};

// clang-format on

std::string joined(const std::vector<std::string_view>& lines) {
  std::string text;
  for (std::string_view line : lines) {
    text += line;
    text += '\n';
  }
  return text;
}

// Enough of a display width for these texts: ASCII is narrow, CJK and full-width forms are wide,
// the dash and the arrow are narrow.
bool is_wide(char32_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
         (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
         (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
         (c >= 0xFFE0 && c <= 0xFFE6);
}

std::size_t display_width(std::string_view text) {
  std::size_t width = 0;
  for (std::size_t i = 0; i < text.size();) {
    char32_t lead = static_cast<unsigned char>(text[i]);
    std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    char32_t c = length == 1 ? lead : lead & (0x3Fu >> (length - 1));
    for (std::size_t k = 1; k < length; ++k) {
      c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3Fu);
    }
    width += is_wide(c) ? 2u : 1u;
    i += length;
  }
  return width;
}

// A command line "  pendrel <form>  <description>": the display column of the description.
std::size_t description_column(std::string_view line) {
  std::size_t gap = line.find("  ", 2);
  std::size_t start = line.find_first_not_of(' ', gap);
  return display_width(line.substr(0, start));
}

struct HelpLayout {
  const char* language;
  const std::vector<std::string_view>* lines;
  std::size_t line_count;
  std::vector<std::size_t> wide_form_lines;  // 1-based lines whose description starts at 52
};

TEST(HelpText, DescriptionsStartAtColumnFifty) {
  const HelpLayout layouts[] = {{"en", &english_help_lines, 35, {}},
                                {"zh", &chinese_help_lines, 33, {9u, 10u}}};
  const std::string continuation(50, ' ');
  for (const HelpLayout& layout : layouts) {
    ASSERT_EQ(layout.lines->size(), layout.line_count) << layout.language;
    std::size_t command_lines = 0;
    for (std::size_t i = 0; i < layout.lines->size(); ++i) {
      std::string_view line = (*layout.lines)[i];
      if (line.starts_with("  pendrel ")) {
        ++command_lines;
        bool wide = std::find(layout.wide_form_lines.begin(), layout.wide_form_lines.end(),
                              i + 1) != layout.wide_form_lines.end();
        EXPECT_EQ(description_column(line), wide ? 52u : 50u) << layout.language << " " << line;
      } else if (line.starts_with(continuation)) {
        EXPECT_NE(line[50], ' ') << layout.language << " " << line;
      }
      EXPECT_FALSE(line.ends_with(' ')) << layout.language << " " << line;
    }
    EXPECT_EQ(command_lines, 11u) << layout.language;
  }
}

struct HelpRun {
  const char* language;
  const std::vector<std::string_view>* lines;
};

const HelpRun help_runs[] = {{"en", &english_help_lines}, {"zh", &chinese_help_lines}};

TEST(HelpText, IsPrintedByteForByteInBothLanguagesAndModes) {
  TempDir home;
  for (const HelpRun& run : help_runs) {
    for (auto mode : {StdoutMode::pipe, StdoutMode::terminal}) {
      auto env = base_environment(home.path());
      env["PENDREL_LANG"] = run.language;
      auto result = run_pendrel({.args = {"help"}, .env = env, .stdout_mode = mode});
      EXPECT_EQ(result.exit_code, 0) << run.language;
      EXPECT_EQ(result.out, joined(*run.lines)) << run.language;
      EXPECT_EQ(result.err, "") << run.language;
    }
  }
}

TEST(HelpText, AliasesIgnoreTheRestOfTheArguments) {
  TempDir home;
  const std::vector<std::vector<std::string>> invocations = {
      {"help"}, {"--help"}, {"-h"}, {"help", "extra", "words"}, {"-h", "ls"}, {"--help", "-q"}};
  for (const auto& args : invocations) {
    auto result = run_pendrel({.args = args, .env = base_environment(home.path())});
    EXPECT_EQ(result.exit_code, 0) << args.front();
    EXPECT_EQ(result.out, joined(english_help_lines)) << args.front();
    EXPECT_EQ(result.err, "");
  }
}

TEST(HelpText, WithoutArgumentsGoesToStandardErrorAndFails) {
  TempDir home;
  for (const HelpRun& run : help_runs) {
    for (auto mode : {StdoutMode::pipe, StdoutMode::terminal}) {
      auto env = base_environment(home.path());
      env["PENDREL_LANG"] = run.language;
      auto result = run_pendrel({.env = env, .stdout_mode = mode});
      EXPECT_EQ(result.exit_code, 1) << run.language;
      EXPECT_EQ(result.out, "") << run.language;
      EXPECT_EQ(result.err, joined(*run.lines)) << run.language;
    }
  }
}

}  // namespace
}  // namespace pendrel::testing
