#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <simdjson.h>

#include "support/run_pendrel.h"
#include "support/source_tree.h"
#include "support/temp_dir.h"

namespace pendrel::testing {
namespace {

const std::string front_matter =
    "---\n"
    "name: pendrel\n"
    "description: Run commands and upload/download files on servers the user has saved in "
    "Pendrel, via the `pendrel` CLI, instead of calling ssh/scp/sftp directly. Use when the user "
    "asks to run something on a remote host, check a server, or transfer files to/from a server. "
    "在用户已保存在 pendrel 中的服务器上执行命令、上传下载文件时使用，替代直接调用 ssh/scp。\n"
    "---\n";

const std::vector<std::string> expected_headings = {
    "# pendrel CLI",
    "## 命令",
    "## 输出格式",
    "## 退出码",
    "## 使用要点",
    "### 每次执行都是无状态的",
    "### 在已打开的终端中执行（`--terminal`）",
    "### 输出上限 1MB",
    "### 长时间运行的任务",
    "### 危险命令会被拦截",
    "### 引号与 `--stdin`",
    "### 文件传输",
    "## 常见问题",
};

std::string real_path(const std::string& path) {
  return std::filesystem::canonical(path).string();
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);)
    lines.push_back(line);
  return lines;
}

bool is_fence(const std::string& line) {
  return line.starts_with("```");
}

// Lines inside fenced blocks, grouped per block, with the block's info string.
struct CodeBlock {
  std::string info;
  std::vector<std::string> lines;
};

std::vector<CodeBlock> code_blocks_of(const std::string& text) {
  std::vector<CodeBlock> blocks;
  bool inside = false;
  for (const std::string& line : lines_of(text)) {
    if (is_fence(line)) {
      if (!inside) blocks.push_back({line.substr(3), {}});
      inside = !inside;
    } else if (inside) {
      blocks.back().lines.push_back(line);
    }
  }
  return blocks;
}

std::vector<std::string> headings_of(const std::string& text) {
  std::vector<std::string> headings;
  bool inside = false;
  for (const std::string& line : lines_of(text)) {
    if (is_fence(line)) inside = !inside;
    if (!inside && line.starts_with("#")) headings.push_back(line);
  }
  return headings;
}

// Splits a shell command line into words as sh would for the quoting used in examples:
// single quotes literal, double quotes with backslash escapes, blanks between words.
std::vector<std::string> shell_words(const std::string& line) {
  std::vector<std::string> words;
  std::optional<std::string> word;
  for (std::size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (c == ' ' || c == '\t') {
      if (word) words.push_back(*std::exchange(word, std::nullopt));
    } else if (c == '\'') {
      std::size_t end = line.find('\'', i + 1);
      word = word.value_or("") + line.substr(i + 1, end - i - 1);
      i = end;
    } else if (c == '"') {
      std::string part;
      for (++i; i < line.size() && line[i] != '"'; ++i) {
        if (line[i] == '\\' && i + 1 < line.size() &&
            std::string("\"\\$`").find(line[i + 1]) != std::string::npos) {
          ++i;
        }
        part += line[i];
      }
      word = word.value_or("") + part;
    } else {
      word = word.value_or("") + c;
    }
  }
  if (word) words.push_back(*word);
  return words;
}

struct ShownCommand {
  std::string line;
  std::vector<std::string> args;  // without the program name
  std::string stdin_data;
};

// Every `pendrel ...` line in the code blocks; a trailing here-document marker <<'EOF' takes
// the lines up to the delimiter as standard input.
std::vector<ShownCommand> commands_of(const std::string& text) {
  std::vector<ShownCommand> commands;
  for (const CodeBlock& block : code_blocks_of(text)) {
    for (std::size_t i = 0; i < block.lines.size(); ++i) {
      const std::string& line = block.lines[i];
      if (!line.starts_with("pendrel ")) continue;
      std::size_t marker = line.find(" <<");
      ShownCommand command{line, shell_words(line.substr(0, marker)), ""};
      command.args.erase(command.args.begin());
      if (marker != std::string::npos) {
        std::string delimiter = shell_words(line.substr(marker + 3)).at(0);
        for (++i; i < block.lines.size() && block.lines[i] != delimiter; ++i) {
          command.stdin_data += block.lines[i] + "\n";
        }
      }
      commands.push_back(std::move(command));
    }
  }
  return commands;
}

std::string skill_source() {
  return read_file(source_path("src/app/SKILL.md").string());
}

std::string printed_skill() {
  TempDir home;
  return run_pendrel({.args = {"skill"}, .env = base_environment(home.path())}).out;
}

TEST(SkillPrint, IsTheShippedFileInBothModes) {
  TempDir home;
  std::string source = skill_source();
  for (auto mode : {StdoutMode::pipe, StdoutMode::terminal}) {
    auto result =
        run_pendrel({.args = {"skill"}, .env = base_environment(home.path()), .stdout_mode = mode});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, source);
  }
}

TEST(SkillPrint, HasTheFrontMatterAndHeadingsInOrder) {
  std::string text = printed_skill();
  EXPECT_TRUE(text.starts_with(front_matter)) << text.substr(0, 400);
  EXPECT_TRUE(text.ends_with("\n"));
  EXPECT_EQ(headings_of(text), expected_headings);
}

// Each JSON example must have one of the shapes the program prints, members in its order.
TEST(SkillPrint, JsonExamplesHaveThePrintedShapes) {
  const std::vector<std::vector<std::string>> shapes = {
      {"id", "name", "host", "port", "username", "protocol"},
      {"exitCode", "stdout", "stderr", "truncated", "durationMs"},
      {"local", "remote", "bytes", "durationMs"},
      {"error", "message"},
  };
  std::vector<std::vector<std::string>> seen;
  simdjson::dom::parser parser;
  for (const CodeBlock& block : code_blocks_of(printed_skill())) {
    if (block.info != "json") continue;
    ASSERT_EQ(block.lines.size(), 1u);
    simdjson::dom::element value;
    ASSERT_EQ(parser.parse(block.lines[0]).get(value), simdjson::SUCCESS) << block.lines[0];
    if (value.is_array()) {
      simdjson::dom::array hosts;
      ASSERT_EQ(value.get_array().get(hosts), simdjson::SUCCESS);
      ASSERT_EQ(hosts.at(0).get(value), simdjson::SUCCESS);
    }
    simdjson::dom::object object;
    ASSERT_EQ(value.get_object().get(object), simdjson::SUCCESS);
    std::vector<std::string> keys;
    for (simdjson::dom::key_value_pair field : object)
      keys.emplace_back(field.key);
    seen.push_back(keys);
  }
  EXPECT_EQ(seen, shapes);
}

// The examples must be invocations the argument parsing accepts. Nothing can be reached or
// started, so an accepted command ends in a connection failure, never in a usage error.
TEST(SkillPrint, ExampleCommandsAreAccepted) {
  TempDir dir;
  std::filesystem::create_directories(dir / "data");
  write_file(dir / "work/dist/app.tar.gz", "archive");
  auto env = base_environment(dir / "home");
  env["PENDREL_DATA_DIR"] = dir / "data";
  env["PENDREL_APP"] = "";

  std::vector<ShownCommand> commands = commands_of(printed_skill());
  EXPECT_GE(commands.size(), 10u);
  bool saw_here_document = false;
  for (const ShownCommand& command : commands) {
    SCOPED_TRACE(command.line);
    saw_here_document = saw_here_document || !command.stdin_data.empty();
    auto result = run_pendrel({.args = command.args,
                               .env = env,
                               .stdin_data = command.stdin_data,
                               .working_dir = dir / "work"});
    if (command.args == std::vector<std::string>{"help"}) {
      EXPECT_EQ(result.exit_code, 0);
      continue;
    }
    EXPECT_FALSE(result.out.starts_with("{\"error\":\"usage\"")) << result.out;
    EXPECT_TRUE(result.out.starts_with("{\"error\":")) << result.out;
    EXPECT_NE(result.exit_code, 1) << result.out;
  }
  EXPECT_TRUE(saw_here_document);
}

struct TargetCase {
  std::string name;
  std::vector<std::string> args;
  std::optional<std::string> claude_config_dir;  // relative to the temp dir unless empty/raw
  std::string expected;                          // relative to the temp dir
};

TEST(SkillInstall, WritesWhereEachAgentLooks) {
  const std::vector<TargetCase> cases = {
      {"default", {"skill", "install"}, std::nullopt, "home/.claude/skills/pendrel/SKILL.md"},
      {"claude",
       {"skill", "install", "--agent", "claude"},
       std::nullopt,
       "home/.claude/skills/pendrel/SKILL.md"},
      {"config dir", {"skill", "install"}, "cfg", "cfg/skills/pendrel/SKILL.md"},
      {"config dir, named",
       {"skill", "install", "--agent", "claude"},
       "cfg/",
       "cfg/skills/pendrel/SKILL.md"},
      {"empty config dir", {"skill", "install"}, "", "home/.claude/skills/pendrel/SKILL.md"},
      {"config dir not UTF-8",
       {"skill", "install"},
       "\xff",
       "home/.claude/skills/pendrel/SKILL.md"},
      {"config dir ignored by agents",
       {"skill", "install", "--agent", "agents"},
       "cfg",
       "home/.agents/skills/pendrel/SKILL.md"},
      {"codex",
       {"skill", "install", "--agent", "codex"},
       std::nullopt,
       "home/.agents/skills/pendrel/SKILL.md"},
      {"workbuddy",
       {"skill", "install", "--agent", "workbuddy"},
       std::nullopt,
       "home/.workbuddy/skills/pendrel/SKILL.md"},
  };
  std::string skill = printed_skill();
  for (const TargetCase& test : cases) {
    SCOPED_TRACE(test.name);
    TempDir dir;
    std::string root = real_path(dir.path());
    auto env = base_environment(root + "/home");
    if (test.claude_config_dir) {
      const std::string& value = *test.claude_config_dir;
      env["CLAUDE_CONFIG_DIR"] = value.empty() || value == "\xff" ? value : root + "/" + value;
    }
    auto result = run_pendrel({.args = test.args, .env = env});
    std::string path = root + "/" + test.expected;
    EXPECT_EQ(result.exit_code, 0) << result.out << result.err;
    EXPECT_EQ(result.out, "{\"path\":\"" + path + "\",\"replaced\":false}\n");
    EXPECT_EQ(read_file(path), skill);
  }
}

TEST(SkillInstall, RelativeDirIsTakenFromTheWorkingDirectory) {
  TempDir dir;
  std::filesystem::create_directories(dir / "w");
  std::string work = real_path(dir / "w");
  auto result = run_pendrel({.args = {"skill", "install", "--dir", "./x"},
                             .env = base_environment(dir / "home"),
                             .stdout_mode = StdoutMode::terminal,
                             .working_dir = work});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.out, "Installed pendrel skill file: " + work + "/x/pendrel/SKILL.md\n");
  EXPECT_TRUE(std::filesystem::is_regular_file(work + "/x/pendrel/SKILL.md"));
}

TEST(SkillInstall, SecondRunReplaces) {
  TempDir dir;
  std::string skills = real_path(dir.path()) + "/s";
  std::string path = skills + "/pendrel/SKILL.md";
  auto run = [&](StdoutMode mode, const char* lang) {
    auto env = base_environment(dir / "home");
    env["PENDREL_LANG"] = lang;
    return run_pendrel(
        {.args = {"skill", "install", "--dir", skills}, .env = env, .stdout_mode = mode});
  };
  EXPECT_EQ(run(StdoutMode::terminal, "zh").out, "已安装 pendrel 技能文件: " + path + "\n");
  EXPECT_EQ(run(StdoutMode::terminal, "zh").out, "已覆盖原有的 pendrel 技能文件: " + path + "\n");
  EXPECT_EQ(run(StdoutMode::terminal, "en").out,
            "Replaced existing pendrel skill file: " + path + "\n");
  EXPECT_EQ(run(StdoutMode::pipe, "en").out, "{\"path\":\"" + path + "\",\"replaced\":true}\n");
}

TEST(SkillInstall, NewFileIsPrivateAndAnExistingFileKeepsItsMode) {
  TempDir dir;
  auto env = base_environment(dir / "home");
  struct stat status {};

  ASSERT_EQ(run_pendrel({.args = {"skill", "install", "--dir", dir / "new"}, .env = env}).exit_code,
            0);
  ASSERT_EQ(::stat((dir / "new/pendrel/SKILL.md").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0600u);

  std::string existing = dir / "old/pendrel/SKILL.md";
  write_file(existing, std::string(200000, 'x'));
  ASSERT_EQ(::chmod(existing.c_str(), 0644), 0);
  auto result = run_pendrel({.args = {"skill", "install", "--dir", dir / "old"}, .env = env});
  EXPECT_EQ(result.exit_code, 0);
  ASSERT_EQ(::stat(existing.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0644u);
  EXPECT_EQ(read_file(existing), printed_skill());  // the longer old content is gone
}

TEST(SkillInstall, NeedsAHomeExceptWithDir) {
  TempDir dir;
  for (const char* home : {"unset", ""}) {
    auto env = base_environment(dir / "home");
    if (std::string(home) == "unset")
      env.erase("HOME");
    else
      env["HOME"] = home;
    env["CLAUDE_CONFIG_DIR"] = dir / "cfg";
    for (const std::vector<std::string>& args : {std::vector<std::string>{"skill", "install"},
                                                 {"skill", "install", "--agent", "claude"},
                                                 {"skill", "install", "--agent", "workbuddy"}}) {
      SCOPED_TRACE(args.back() + " HOME=" + home);
      auto result = run_pendrel({.args = args, .env = env});
      EXPECT_EQ(result.exit_code, 1);
      EXPECT_EQ(result.out,
                "{\"error\":\"usage\",\"message\":\"cannot determine home directory\"}\n");
    }
    auto result = run_pendrel({.args = {"skill", "install", "--dir", dir / "s"}, .env = env});
    EXPECT_EQ(result.exit_code, 0) << result.out;
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "cfg"));
}

TEST(SkillInstall, OtherShapesAreUsageErrors) {
  const std::vector<std::vector<std::string>> shapes = {
      {"install", "--agent", "Claude"},
      {"install", "--agent", "cursor"},
      {"install", "--dir", ""},
      {"install", "extra"},
      {"list"},
      {"install", "--agent"},
      {"install", "--dir", "a", "b"},
      {"install", "--to", "a"},
  };
  const std::pair<const char*, std::string> languages[] = {
      {"en",
       "usage: pendrel skill or pendrel skill install [--agent claude|agents|workbuddy | --dir "
       "<dir>]"},
      {"zh",
       "用法: pendrel skill 或 pendrel skill install [--agent claude|agents|workbuddy | --dir "
       "<目录>]"},
  };
  TempDir dir;
  for (const auto& [lang, message] : languages) {
    auto env = base_environment(dir / "home");
    env["PENDREL_LANG"] = lang;
    for (const auto& shape : shapes) {
      std::vector<std::string> args{"skill"};
      args.insert(args.end(), shape.begin(), shape.end());
      SCOPED_TRACE(::testing::PrintToString(args) + " " + lang);
      auto json = run_pendrel({.args = args, .env = env});
      EXPECT_EQ(json.exit_code, 1);
      EXPECT_EQ(json.out, "{\"error\":\"usage\",\"message\":\"" + message + "\"}\n");
      auto text = run_pendrel({.args = args, .env = env, .stdout_mode = StdoutMode::terminal});
      EXPECT_EQ(text.exit_code, 1);
      EXPECT_EQ(text.err, "pendrel: " + message + "\n");
    }
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "home"));
}

TEST(SkillInstall, UnwritableParentFails) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes anywhere";
  TempDir dir;
  std::filesystem::create_directories(dir / "locked");
  ASSERT_EQ(::chmod((dir / "locked").c_str(), 0500), 0);
  auto env = base_environment(dir / "home");
  auto json =
      run_pendrel({.args = {"skill", "install", "--dir", dir / "locked/skills"}, .env = env});
  EXPECT_EQ(json.exit_code, 1);
  EXPECT_TRUE(json.out.starts_with("{\"error\":\"skill_install_failed\",\"message\":\""));
  EXPECT_TRUE(json.out.ends_with(" (os error 13)\"}\n")) << json.out;
  auto text = run_pendrel({.args = {"skill", "install", "--dir", dir / "locked/skills"},
                           .env = env,
                           .stdout_mode = StdoutMode::terminal});
  EXPECT_EQ(text.exit_code, 1);
  EXPECT_EQ(text.err,
            "pendrel: failed to install the skill file: Permission denied (os error 13)\n");
}

TEST(SkillInstall, FileInPlaceOfADirectoryFails) {
  TempDir dir;
  write_file(dir / "plain", "not a directory");
  auto result = run_pendrel({.args = {"skill", "install", "--dir", dir / "plain"},
                             .env = base_environment(dir / "home")});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.out,
            "{\"error\":\"skill_install_failed\",\"message\":\"Not a directory (os error 20)\"}\n");
}

}  // namespace
}  // namespace pendrel::testing
