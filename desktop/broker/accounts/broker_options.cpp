#include "desktop/broker/accounts/broker_options.h"

#include "protocol/decimal.h"

namespace pendrel::desktop {

std::expected<BrokerOptions, std::string> parse_broker_options(std::span<const std::string> args) {
  BrokerOptions options;
  bool seen[4] = {false, false, false, false};
  std::string front;
  for (std::size_t i = 0; i < args.size(); i += 2) {
    const std::string& name = args[i];
    std::string* target = nullptr;
    int which = 0;
    if (name == "--socket") {
      target = &options.socket;
    } else if (name == "--state-dir") {
      target = &options.state_dir;
      which = 1;
    } else if (name == "--account") {
      target = &options.account;
      which = 2;
    } else if (name == "--personal") {
      target = &front;
      which = 3;
    } else {
      return std::unexpected("unknown option " + name +
                             " (broker takes --socket, --state-dir, --account and --personal)");
    }
    if (i + 1 >= args.size() || args[i + 1].empty())
      return std::unexpected(name + " takes a value");
    if (seen[which]) return std::unexpected(name + " is given twice");
    seen[which] = true;
    *target = args[i + 1];
    if (which < 2 && target->front() != '/')
      return std::unexpected(name + " takes an absolute path");
  }
  if (seen[3]) {
    auto pid = parse_decimal_u32(front);
    if (!pid || *pid == 0) return std::unexpected("--personal takes the front's pid");
    options.front = static_cast<pid_t>(*pid);
  }
  return options;
}

}  // namespace pendrel::desktop
