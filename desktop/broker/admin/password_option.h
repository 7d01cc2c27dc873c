// Where a command reads passwords from: the terminal, or `--password-fd N` for scripts.
#pragma once

#include <expected>
#include <string_view>

#include "desktop/broker/admin/admin_failure.h"
#include "desktop/broker/admin/arguments.h"
#include "desktop/broker/vault/password_input.h"

namespace pendrel::desktop {

// Consumes `--password-fd N` when it is next; true when it was. N is a descriptor number.
[[nodiscard]] std::expected<bool, AdminFailure> take_password_fd(Arguments& args,
                                                                 PasswordSource& source);

// Consumes `--json` and `--password-fd N`, in any order, for as long as one of them is next;
// `json` becomes true when --json was among them.
[[nodiscard]] std::expected<void, AdminFailure> take_json_and_password_fd(Arguments& args,
                                                                          bool& json,
                                                                          PasswordSource& source);

// The password, or a failure that says why none was read.
[[nodiscard]] std::expected<SecretString, AdminFailure> ask_password(const PasswordSource& source,
                                                                     std::string_view prompt);
[[nodiscard]] std::expected<SecretString, AdminFailure> ask_new_password(
    const PasswordSource& source, std::string_view prompt, std::string_view confirm);

// The master password's prompt.
inline constexpr std::string_view master_prompt = "Master password: ";

}  // namespace pendrel::desktop
