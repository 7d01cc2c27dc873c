// The messages pendrel-mcp adds to pendrel's catalogue, in Chinese and English.
#pragma once

#include "i18n/message.h"

namespace pendrel::mcp_messages {

// Tool arguments, refused as usage errors.
inline constexpr MessagePair argument_missing{"缺少参数 {}", "missing argument: {}"};
inline constexpr MessagePair argument_unknown{"未知参数 {}（{} 只接受 {}）",
                                              "unknown argument: {} ({} takes {})"};
inline constexpr MessagePair argument_not_string{"参数 {} 必须是字符串",
                                                 "argument {} must be a string"};
inline constexpr MessagePair argument_not_boolean{"参数 {} 必须是 true 或 false",
                                                  "argument {} must be true or false"};
inline constexpr MessagePair local_not_absolute{"本地路径必须是绝对路径: {}",
                                                "the local path must be absolute: {}"};
inline constexpr MessagePair command_too_large{
    "命令超过 1MB，未执行；较大的脚本请先用 pendrel_upload 传到服务器再执行",
    "the command exceeds 1MB; nothing was run. Upload larger scripts with pendrel_upload first, "
    "then run them"};

// Output kept within the bound for a model: what stands where the middle was.
inline constexpr MessagePair output_cut{
    "\n[pendrel-mcp] 此处省略了 {} 个字符；输出很大时请重定向到远程文件，再用 pendrel_download "
    "下载\n",
    "\n[pendrel-mcp] {} characters left out here; redirect large output to a remote file and "
    "fetch it with pendrel_download\n"};

// The progress notification of a call that is still waiting.
inline constexpr MessagePair still_waiting{"正在等待 Pendrel（审批或命令），已 {} 秒",
                                           "waiting for Pendrel (approval or command), {} s"};

}  // namespace pendrel::mcp_messages
