// ErrorCode: the stable codes of the desktop application's failures, their exit codes and
// their messages in both languages, in one table.
#pragma once

#include <optional>
#include <span>
#include <string_view>

namespace pendrel {

enum class ErrorCode {
  bad_request,
  not_found,
  host_not_found,
  host_not_allowed,
  connect_failed,
  algorithm_mismatch,
  terminal_not_open,
  terminal_busy,
  credential_missing,
  hostkey_unknown,
  hostkey_mismatch,
  hostkey_rejected,
  auth_failed,
  auth_interaction_required,
  path_not_found,
  path_exists,
  permission_denied,
  sftp_unavailable,
  key_passphrase_required,
  key_wrong_passphrase,
  key_unsupported,
  key_invalid,
  command_blocked,
  command_denied,
  cli_disabled,
  app_not_running,
  app_locked,
  vault_locked,
  vault_needs_setup,
  vault_key_lost,
  protocol_mismatch,
  canceled,
  internal
};

struct ErrorCodeInfo {
  ErrorCode code;
  std::string_view name;  // the snake_case text form
  int exit_code;
  std::string_view chinese;
  std::string_view english;
};

// Every code, in the enumeration's order.
[[nodiscard]] std::span<const ErrorCodeInfo> all_error_codes();

[[nodiscard]] const ErrorCodeInfo& info_for(ErrorCode code);

// Exact, case-sensitive match of the text form; nothing for an unknown code.
[[nodiscard]] std::optional<ErrorCode> parse_error_code(std::string_view text);

[[nodiscard]] int exit_code_for(ErrorCode code);

// The exit code of a code as received: the table's for a known code, 5 for an unknown one.
[[nodiscard]] int exit_code_for(std::string_view code_text);

}  // namespace pendrel
