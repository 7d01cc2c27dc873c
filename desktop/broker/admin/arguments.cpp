#include "desktop/broker/admin/arguments.h"

namespace pendrel::desktop {

std::expected<std::optional<std::string>, AdminFailure> Arguments::value_of(std::string_view name) {
  if (done()) return std::nullopt;
  std::string_view current = peek();
  if (current == name) {
    if (next_ + 1 >= args_.size()) {
      return std::unexpected(bad_input(std::string(name) + " needs a value"));
    }
    next_ += 2;
    return args_[next_ - 1];
  }
  if (current.size() > name.size() && current.starts_with(name) && current[name.size()] == '=') {
    ++next_;
    return std::string(current.substr(name.size() + 1));
  }
  return std::nullopt;
}

bool Arguments::flag(std::string_view name) {
  if (done() || peek() != name) return false;
  ++next_;
  return true;
}

std::expected<void, AdminFailure> expect_end(const Arguments& args) {
  if (args.done()) return {};
  return std::unexpected(
      bad_input("unexpected argument " + std::string(args.peek()) + " (see pendrel-desktop help)"));
}

std::expected<bool, AdminFailure> parse_on_off(std::string_view what, std::string_view value) {
  if (value == "on") return true;
  if (value == "off") return false;
  return std::unexpected(
      bad_input(std::string(what) + " takes on or off, not " + std::string(value)));
}

}  // namespace pendrel::desktop
