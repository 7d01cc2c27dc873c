// Every message the program shows a person, in Chinese and English. Texts of the layer
// shared with the desktop application and the diagnostic lines are Chinese only and live
// with their owners.
#pragma once

#include "i18n/message.h"

namespace pendrel::messages {

// The front end.
inline constexpr MessagePair unknown_command{"未知命令: {}（运行 pendrel help 查看用法）",
                                             "unknown command: {} (run pendrel help for usage)"};
inline constexpr MessagePair usage_ls{"用法: pendrel ls [-q <关键词>]",
                                      "usage: pendrel ls [-q <keyword>]"};
inline constexpr MessagePair usage_exec{
    "用法: pendrel exec [--terminal] <主机> \"<命令>\" 或 pendrel exec [--terminal] <主机> --stdin",
    "usage: pendrel exec [--terminal] <host> \"<command>\" or pendrel exec [--terminal] <host> "
    "--stdin"};
inline constexpr MessagePair usage_upload{
    "用法: pendrel upload <主机> <本地文件> <远程路径>",
    "usage: pendrel upload <host> <local-file> <remote-path>"};
inline constexpr MessagePair usage_download{
    "用法: pendrel download <主机> <远程文件> <本地路径>",
    "usage: pendrel download <host> <remote-file> <local-path>"};
inline constexpr MessagePair usage_skill{
    "用法: pendrel skill 或 pendrel skill install [--agent claude|agents|workbuddy | --dir <目录>]",
    "usage: pendrel skill or pendrel skill install [--agent claude|agents|workbuddy | --dir "
    "<dir>]"};

// Answers that break the protocol, in reports and in connection failures.
inline constexpr MessagePair unexpected_answer{"Pendrel 的回答不符合协议: {}",
                                               "unexpected answer from Pendrel: {}"};

// The skill file.
inline constexpr MessagePair skill_installed{"已安装 pendrel 技能文件: {}",
                                             "Installed pendrel skill file: {}"};
inline constexpr MessagePair skill_replaced{"已覆盖原有的 pendrel 技能文件: {}",
                                            "Replaced existing pendrel skill file: {}"};
inline constexpr MessagePair home_unknown{"无法确定用户主目录", "cannot determine home directory"};

// Reaching and starting the desktop application.
inline constexpr MessagePair data_dir_missing{"找不到 Pendrel 的数据目录: {}",
                                              "cannot find the Pendrel data directory: {}"};
inline constexpr MessagePair connect_failed{"连接 Pendrel 失败: {}",
                                            "failed to connect to Pendrel: {}"};
inline constexpr MessagePair cli_service_down{
    "Pendrel 正在运行，但命令行服务没有启动（{}）。请查看 Pendrel "
    "数据目录下的 logs 中的日志；常见原因是数据目录的路径过长，或位于网络共享上",
    "Pendrel is running but its command-line service did not start ({}). See the logs in the "
    "Pendrel data directory; this usually means the data directory path is too long or on a "
    "network share"};
inline constexpr MessagePair auto_start_forbidden{
    "请先打开 Pendrel（设置的「命令行工具」中没有允许在 Pendrel 未打开时自动在后台启动它）",
    "open Pendrel first (Settings → Command-line tool doesn't allow starting it in the background "
    "when it isn't open)"};
inline constexpr MessagePair start_timed_out{"等待 Pendrel 启动超时",
                                             "timed out waiting for Pendrel to start"};
inline constexpr MessagePair closed_before_answer{"Pendrel 在回答前关闭了连接",
                                                  "Pendrel closed the connection before answering"};
inline constexpr MessagePair app_not_found{
    "Pendrel 没有在运行，也没有找到 Pendrel 程序（可用 PENDREL_APP 指定）",
    "Pendrel is not running and the Pendrel program was not found (set PENDREL_APP to its path)"};
inline constexpr MessagePair start_failed{"启动 Pendrel 失败: {}", "failed to start Pendrel: {}"};

// Host listing.
inline constexpr MessagePair table_header{"ID\t名称\t地址\t用户\t协议",
                                          "ID\tNAME\tADDRESS\tUSER\tPROTOCOL"};
inline constexpr MessagePair no_hosts{
    "没有允许 CLI 访问的主机。请在 Pendrel 中为主机开启 CLI 访问。",
    "No hosts allow CLI access. Enable CLI access for a host in Pendrel."};

// Remote execution.
inline constexpr MessagePair command_empty{"命令不能为空", "command must not be empty"};
inline constexpr MessagePair stdin_too_large{
    "标准输入超过 1MB，未执行；较大的脚本请先 pendrel upload 到服务器再执行",
    "stdin exceeds 1MB; nothing was run. Upload larger scripts with pendrel upload first, then "
    "run them"};
inline constexpr MessagePair stdin_not_utf8{"标准输入不是 UTF-8 文本", "stdin is not UTF-8 text"};
inline constexpr MessagePair stdin_read_failed{"读取标准输入失败: {}", "failed to read stdin: {}"};
inline constexpr MessagePair output_truncated{
    "\n[pendrel] 输出超过 {} 字节，已截断\n",
    "\n[pendrel] output exceeded {} bytes and was truncated\n"};

// File transfer.
inline constexpr MessagePair path_empty{"路径不能为空", "path must not be empty"};
inline constexpr MessagePair local_path_unresolvable{"无法解析本地路径 {}: {}",
                                                     "cannot resolve local path {}: {}"};
inline constexpr MessagePair downloaded{"已下载 {} → {}（{}）", "Downloaded {} → {} ({})"};
inline constexpr MessagePair uploaded{"已上传 {} → {}（{}）", "Uploaded {} → {} ({})"};
inline constexpr MessagePair duration_seconds{"{} 秒", "{}s"};
inline constexpr MessagePair not_regular_file{"{} 不是普通文件", "{} is not a regular file"};
inline constexpr MessagePair is_directory{
    "{} 是目录，目前只支持上传单个文件；可先打包（如 tar czf dir.tar.gz dir）再上传",
    "{} is a directory; only single files can be uploaded for now. Archive it first (e.g. tar "
    "czf dir.tar.gz dir)"};

}  // namespace pendrel::messages
