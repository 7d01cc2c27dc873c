#include "protocol/error_code.h"

#include <array>

namespace pendrel {
namespace {

constexpr std::array error_table{
    ErrorCodeInfo{ErrorCode::bad_request, "bad_request", 1, "请求无效", "invalid request"},
    ErrorCodeInfo{ErrorCode::not_found, "not_found", 5, "要找的记录不存在", "not found"},
    ErrorCodeInfo{ErrorCode::host_not_found, "host_not_found", 2,
                  "主机不存在，请先运行 pendrel ls 查看可用主机",
                  "host not found; run pendrel ls to see available hosts"},
    ErrorCodeInfo{ErrorCode::host_not_allowed, "host_not_allowed", 3,
                  "该主机未允许 CLI 访问，请在 Pendrel 中为它开启 CLI 访问",
                  "this host does not allow CLI access; enable it in Pendrel"},
    ErrorCodeInfo{ErrorCode::connect_failed, "connect_failed", 5, "连接或执行失败",
                  "connection or execution failed"},
    ErrorCodeInfo{ErrorCode::algorithm_mismatch, "algorithm_mismatch", 5,
                  "与服务器没有共同的加密算法，请在 Pendrel 中为主机勾选「兼容旧设备」",
                  "no common encryption algorithm with the server; enable \"Legacy devices\" for "
                  "the host in Pendrel"},
    ErrorCodeInfo{ErrorCode::terminal_not_open, "terminal_not_open", 5,
                  "这台主机没有在 Pendrel 中打开的终端，请先在 Pendrel 中打开",
                  "this host has no terminal open in Pendrel; open one in Pendrel first"},
    ErrorCodeInfo{ErrorCode::terminal_busy, "terminal_busy", 5,
                  "终端正忙（正在运行程序或全屏程序），请回到 shell 提示符后重试",
                  "the terminal is busy (a program or full-screen app is running); return to the "
                  "shell prompt and try again"},
    ErrorCodeInfo{ErrorCode::credential_missing, "credential_missing", 5,
                  "主机还没有凭据，请先在 Pendrel 中编辑主机",
                  "the host has no credentials; edit the host in Pendrel first"},
    ErrorCodeInfo{
        ErrorCode::hostkey_unknown, "hostkey_unknown", 5,
        "尚未确认该主机的指纹，请先在 Pendrel 中连接一次并确认",
        "the host key has not been confirmed; connect once in Pendrel and accept it first"},
    ErrorCodeInfo{ErrorCode::hostkey_mismatch, "hostkey_mismatch", 5,
                  "主机指纹与记录不一致，可能存在中间人攻击，已拒绝连接。如确认服务器已重装，请在 "
                  "Pendrel 中连接该主机，按提示删除旧记录",
                  "the host key does not match the recorded one (possible man-in-the-middle "
                  "attack); connection refused. If the server was reinstalled, connect to it in "
                  "Pendrel and remove the old record when prompted"},
    ErrorCodeInfo{ErrorCode::hostkey_rejected, "hostkey_rejected", 5, "主机指纹被拒绝",
                  "the host key was rejected"},
    ErrorCodeInfo{ErrorCode::auth_failed, "auth_failed", 5, "认证失败，请检查用户名与凭据",
                  "authentication failed; check the username and credentials"},
    ErrorCodeInfo{ErrorCode::auth_interaction_required, "auth_interaction_required", 5,
                  "该主机需要输入验证码等交互认证，CLI 无法完成，请在 Pendrel 中使用",
                  "this host requires interactive authentication (e.g. a verification code) that "
                  "the CLI cannot complete; use Pendrel instead"},
    ErrorCodeInfo{ErrorCode::path_not_found, "path_not_found", 5, "路径不存在", "path not found"},
    ErrorCodeInfo{ErrorCode::path_exists, "path_exists", 5, "路径已存在", "path already exists"},
    ErrorCodeInfo{ErrorCode::permission_denied, "permission_denied", 5, "没有权限",
                  "permission denied"},
    ErrorCodeInfo{ErrorCode::sftp_unavailable, "sftp_unavailable", 5,
                  "服务器未启用 SFTP，无法传输文件",
                  "SFTP is not available on the server; cannot transfer files"},
    ErrorCodeInfo{ErrorCode::key_passphrase_required, "key_passphrase_required", 5,
                  "私钥已加密但没有保存私钥密码，请在 Pendrel 中编辑主机或改用密钥库中的密钥",
                  "the private key is encrypted but no passphrase is saved; edit the host in "
                  "Pendrel or use a key from the key library"},
    ErrorCodeInfo{ErrorCode::key_wrong_passphrase, "key_wrong_passphrase", 5,
                  "保存的私钥密码不正确，请在 Pendrel 中编辑主机",
                  "the saved key passphrase is incorrect; edit the host in Pendrel"},
    ErrorCodeInfo{ErrorCode::key_unsupported, "key_unsupported", 5, "不支持的私钥格式或算法",
                  "unsupported private key format or algorithm"},
    ErrorCodeInfo{ErrorCode::key_invalid, "key_invalid", 5, "私钥内容无效或已损坏",
                  "the private key is invalid or corrupted"},
    ErrorCodeInfo{ErrorCode::command_blocked, "command_blocked", 4,
                  "命令命中危险命令规则被拦截，可在 Pendrel 设置中的「命令行工具」中查看规则",
                  "command blocked by a dangerous-command rule; see the rules under Settings → "
                  "Command-line tool in Pendrel"},
    ErrorCodeInfo{
        ErrorCode::command_denied, "command_denied", 4,
        "命令命中危险命令规则，未获得批准（在 Pendrel "
        "中被拒绝或等待超时），不要尝试绕过，请让用户在终端中手动执行",
        "command matches a dangerous-command rule and was not approved in Pendrel (denied or timed "
        "out); do not try to bypass it, ask the user to run it manually"},
    ErrorCodeInfo{
        ErrorCode::cli_disabled, "cli_disabled", 7,
        "外部 CLI 已关闭，请在 Pendrel 设置中的「命令行工具」中开启",
        "External CLI is turned off; turn it on in Pendrel under Settings → Command-line tool"},
    ErrorCodeInfo{ErrorCode::app_not_running, "app_not_running", 7, "Pendrel 没有运行",
                  "Pendrel is not running"},
    ErrorCodeInfo{ErrorCode::app_locked, "app_locked", 6, "Pendrel 已锁定，请先在 Pendrel 中解锁",
                  "Pendrel is locked; unlock it in Pendrel first"},
    ErrorCodeInfo{ErrorCode::vault_locked, "vault_locked", 6,
                  "Pendrel 的凭据已锁定，请先在 Pendrel 中输入主密码",
                  "Pendrel credentials are locked; enter the master password in Pendrel first"},
    ErrorCodeInfo{ErrorCode::vault_needs_setup, "vault_needs_setup", 6,
                  "系统钥匙串不可用，请先在 Pendrel 中设置主密码",
                  "the system keychain is unavailable; set a master password in Pendrel first"},
    ErrorCodeInfo{ErrorCode::vault_key_lost, "vault_key_lost", 6,
                  "系统钥匙串中的主密钥丢失，已保存的凭据无法解密，请在 Pendrel 中重新录入",
                  "the master key in the system keychain is missing and saved credentials cannot "
                  "be decrypted; re-enter them in Pendrel"},
    ErrorCodeInfo{ErrorCode::protocol_mismatch, "protocol_mismatch", 5,
                  "pendrel 与 Pendrel 的版本不一致，请重新安装 Pendrel",
                  "pendrel and Pendrel versions do not match; reinstall Pendrel"},
    ErrorCodeInfo{ErrorCode::canceled, "canceled", 5, "已取消", "canceled"},
    ErrorCodeInfo{ErrorCode::internal, "internal", 5, "Pendrel 内部错误，请查看 Pendrel 日志",
                  "internal Pendrel error; check the Pendrel logs"},
};

constexpr int unknown_code_exit = 5;

}  // namespace

std::span<const ErrorCodeInfo> all_error_codes() {
  return error_table;
}

const ErrorCodeInfo& info_for(ErrorCode code) {
  return error_table[static_cast<std::size_t>(code)];
}

std::optional<ErrorCode> parse_error_code(std::string_view text) {
  for (const auto& entry : error_table) {
    if (entry.name == text) return entry.code;
  }
  return std::nullopt;
}

int exit_code_for(ErrorCode code) {
  return info_for(code).exit_code;
}

int exit_code_for(std::string_view code_text) {
  auto code = parse_error_code(code_text);
  return code ? exit_code_for(*code) : unknown_code_exit;
}

}  // namespace pendrel
