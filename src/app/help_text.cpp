#include "app/help_text.h"

namespace pendrel {
namespace {

// One source line per output line, so the text reads as it prints.
// clang-format off
constexpr std::string_view english_help =
    "pendrel — run remote commands and transfer files via hosts saved in Pendrel\n"
    "\n"
    "Usage:\n"
    "  pendrel ls [-q <keyword>]                       List hosts that allow CLI access (no credentials)\n"
    "  pendrel exec <host> \"<command>\"                 Run a remote command (new connection each time, stateless)\n"
    "  pendrel exec <host> --stdin                     Read the command from stdin (avoids shell escaping)\n"
    "  pendrel exec --terminal <host> \"<command>\"      Run it in the terminal of this host already open in Pendrel (visible\n"
    "                                                  to the user; for servers behind bastions that refuse new connections;\n"
    "                                                  needs bash / sh)\n"
    "  pendrel upload <host> <local-file> <remote>     Upload a single file (scp semantics)\n"
    "  pendrel download <host> <remote-file> <local>   Download a single file (local may be . or an existing directory)\n"
    "  pendrel skill                                   Print the Agent Skill file (SKILL.md)\n"
    "  pendrel skill install [--agent <target>]        Install for claude (Claude Code, default), agents (shared ~/.agents/skills,\n"
    "                                                  read by Codex, Cursor, Gemini CLI and others; codex is an alias) or workbuddy\n"
    "  pendrel skill install --dir <dir>               Install into the given skills directory\n"
    "  pendrel version                                 Print the version\n"
    "  pendrel help                                    Print this help\n"
    "\n"
    "<host> can be an ID or a name from pendrel ls.\n"
    "\n"
    "Output: human-readable text when stdout is a terminal, JSON when piped or captured\n"
    "(field names and error codes are always English).\n"
    "\n"
    "Exit codes:\n"
    "  0  success\n"
    "  1  usage error\n"
    "  2  host not found\n"
    "  3  host does not allow CLI access\n"
    "  4  command blocked by a dangerous-command rule\n"
    "  5  connection or execution failed\n"
    "  6  credentials are locked\n"
    "  7  external CLI is turned off (turn it on in Pendrel under Settings → Command-line tool)\n"
    "  other  exec passes through the remote command's exit code once connected\n"
    "\n"
    "Language: follows LC_ALL / LC_MESSAGES / LANG or the system UI language; override with PENDREL_LANG=en|zh.\n";

constexpr std::string_view chinese_help =
    "pendrel — 通过 Pendrel 中保存的主机执行远程命令、传输文件\n"
    "\n"
    "用法:\n"
    "  pendrel ls [-q <关键词>]                        列出允许 CLI 访问的主机（不含凭据）\n"
    "  pendrel exec <主机> \"<命令>\"                    执行一条远程命令（每次新建连接，无状态）\n"
    "  pendrel exec <主机> --stdin                     从标准输入读取命令（规避 shell 转义问题）\n"
    "  pendrel exec --terminal <主机> \"<命令>\"         在 Pendrel 中已打开的这台主机的终端里执行（用户看得见；\n"
    "                                                  堡垒机后面的服务器不能新建连接时使用；需要 bash / sh）\n"
    "  pendrel upload <主机> <本地文件> <远程路径>       上传单个文件（scp 语义）\n"
    "  pendrel download <主机> <远程文件> <本地路径>     下载单个文件（本地路径可为 . 或已存在的目录）\n"
    "  pendrel skill                                   打印 Agent Skill 文件（SKILL.md）\n"
    "  pendrel skill install [--agent <位置>]          安装到 claude（Claude Code，默认）、agents（通用目录 ~/.agents/skills，\n"
    "                                                  Codex、Cursor、Gemini CLI 等读取；codex 等同 agents）或 workbuddy\n"
    "  pendrel skill install --dir <目录>              安装到指定的 skills 目录\n"
    "  pendrel version                                 打印版本号\n"
    "  pendrel help                                    打印本帮助\n"
    "\n"
    "<主机> 可以是 pendrel ls 中的 ID 或名称。\n"
    "\n"
    "输出: 标准输出是终端时为可读文本，被管道或程序捕获时为 JSON（字段名与错误码固定为英文）。\n"
    "\n"
    "退出码:\n"
    "  0  成功\n"
    "  1  用法错误\n"
    "  2  主机不存在\n"
    "  3  主机未允许 CLI 访问\n"
    "  4  命令命中危险命令规则被拦截\n"
    "  5  连接或执行失败\n"
    "  6  凭据已锁定\n"
    "  7  外部 CLI 已关闭（在 Pendrel 设置中的「命令行工具」中开启）\n"
    "  其他  exec 连接成功后透传远程命令的退出码\n"
    "\n"
    "语言: 跟随 LC_ALL / LC_MESSAGES / LANG 或系统界面语言，可用 PENDREL_LANG=en|zh 指定。\n";
// clang-format on

}  // namespace

std::string_view help_text(Language language) {
  return language == Language::en ? english_help : chinese_help;
}

}  // namespace pendrel
