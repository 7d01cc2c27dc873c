#include "desktop/broker/admin/password_option.h"

#include "protocol/decimal.h"

namespace pendrel::desktop {
namespace {

AdminFailure input_failure(const PasswordInputError& error) {
  switch (error.failure) {
    case PasswordInputFailure::no_terminal:
      return bad_input("no terminal to ask the password on; give --password-fd N");
    case PasswordInputFailure::cancelled:
      return bad_input("cancelled");
    case PasswordInputFailure::too_long:
      return bad_input("the password is longer than " + std::to_string(max_password_bytes) +
                       " bytes");
    case PasswordInputFailure::empty:
      return bad_input("the password is empty");
    case PasswordInputFailure::mismatch:
      return bad_input("the two entries differ");
    case PasswordInputFailure::io_failed:
      break;
  }
  return bad_input("cannot read the password: " + error.detail);
}

}  // namespace

std::expected<bool, AdminFailure> take_password_fd(Arguments& args, PasswordSource& source) {
  auto value = args.value_of("--password-fd");
  if (!value) return std::unexpected(value.error());
  if (!*value) return false;
  auto fd = parse_decimal_u32(**value);
  if (!fd || *fd > 1'000'000)
    return std::unexpected(bad_input("--password-fd takes a descriptor number"));
  source.descriptor = static_cast<int>(*fd);
  return true;
}

std::expected<void, AdminFailure> take_json_and_password_fd(Arguments& args, bool& json,
                                                            PasswordSource& source) {
  while (!args.done()) {
    if (args.flag("--json")) {
      json = true;
      continue;
    }
    auto fd = take_password_fd(args, source);
    if (!fd) return std::unexpected(fd.error());
    if (!*fd) break;
  }
  return {};
}

std::expected<SecretString, AdminFailure> ask_password(const PasswordSource& source,
                                                       std::string_view prompt) {
  auto password = read_password(source, prompt);
  if (!password) return std::unexpected(input_failure(password.error()));
  return std::move(*password);
}

std::expected<SecretString, AdminFailure> ask_new_password(const PasswordSource& source,
                                                           std::string_view prompt,
                                                           std::string_view confirm) {
  auto password = read_new_password(source, prompt, confirm);
  if (!password) return std::unexpected(input_failure(password.error()));
  return std::move(*password);
}

}  // namespace pendrel::desktop
