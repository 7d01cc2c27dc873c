// Walking a command's arguments: options as "--name value" or "--name=value", and operands.
#pragma once

#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "desktop/broker/admin/admin_failure.h"

namespace pendrel::desktop {

class Arguments {
 public:
  explicit Arguments(std::span<const std::string> args) : args_(args) {}

  [[nodiscard]] bool done() const { return next_ >= args_.size(); }
  [[nodiscard]] std::string_view peek() const { return args_[next_]; }
  std::string_view take() { return args_[next_++]; }

  // When the next argument is the option `name` (alone or as "name=value"), consumes it and
  // gives its value (the next argument, or the text after '='); a missing value is an error.
  // Nothing when the next argument is another option or an operand.
  [[nodiscard]] std::expected<std::optional<std::string>, AdminFailure> value_of(
      std::string_view name);

  // Consumes the flag `name` when it is next.
  [[nodiscard]] bool flag(std::string_view name);

 private:
  std::span<const std::string> args_;
  std::size_t next_ = 0;
};

// Fails with "unexpected argument {arg}" unless every argument was used.
[[nodiscard]] std::expected<void, AdminFailure> expect_end(const Arguments& args);

// "on" or "off" for option or command `what`; anything else is bad input.
[[nodiscard]] std::expected<bool, AdminFailure> parse_on_off(std::string_view what,
                                                             std::string_view value);

}  // namespace pendrel::desktop
