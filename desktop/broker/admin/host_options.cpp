#include "desktop/broker/admin/host_options.h"

#include <algorithm>

#include "desktop/broker/admin/password_option.h"
#include "desktop/shared/store/host_fields.h"

namespace pendrel::desktop {
namespace {

using Outcome = std::expected<void, AdminFailure>;

// Stores `value` into `field` when `check` accepts it.
Outcome set_checked(std::string_view option, std::string value,
                    FieldCheck (*check)(std::string_view), std::optional<std::string>& field) {
  if (auto reason = check(value))
    return std::unexpected(bad_input(std::string(option) + " " + *reason));
  field = std::move(value);
  return {};
}

struct ValueOption {
  std::string_view name;
  Outcome (*store)(std::string value, HostOptions& options);
};

// The options that take a value, and what each does with it.
constexpr ValueOption value_options[] = {
    {"--address",
     [](std::string value, HostOptions& o) {
       return set_checked("--address", std::move(value), check_address, o.address);
     }},
    {"--port",
     [](std::string value, HostOptions& o) -> Outcome {
       o.port = parse_port(value);
       if (!o.port) return std::unexpected(bad_input("--port must be a number from 1 to 65535"));
       return {};
     }},
    {"--user",
     [](std::string value, HostOptions& o) {
       return set_checked("--user", std::move(value), check_username, o.username);
     }},
    {"--protocol",
     [](std::string value, HostOptions& o) -> Outcome {
       o.protocol = parse_protocol(value);
       if (!o.protocol) return std::unexpected(bad_input("--protocol takes SSH or LOCAL"));
       return {};
     }},
    {"--tag",
     [](std::string value, HostOptions& o) -> Outcome {
       if (auto reason = check_tag(value)) return std::unexpected(bad_input("--tag " + *reason));
       if (!o.tags) o.tags.emplace();
       if (std::find(o.tags->begin(), o.tags->end(), value) == o.tags->end()) {
         o.tags->push_back(std::move(value));
       }
       return {};
     }},
    {"--key",
     [](std::string value, HostOptions& o) -> Outcome {
       if (value.empty()) return std::unexpected(bad_input("--key takes a file"));
       o.credentials.key_file = std::move(value);
       return {};
     }},
    {"--agent",
     [](std::string value, HostOptions& o) -> Outcome {
       auto on = parse_on_off("--agent", value);
       if (!on) return std::unexpected(on.error());
       o.credentials.agent = *on;
       return {};
     }},
    {"--cli-user",
     [](std::string value, HostOptions& o) {
       return set_checked("--cli-user", std::move(value), check_username, o.cli_login.username);
     }},
    {"--cli-key",
     [](std::string value, HostOptions& o) -> Outcome {
       if (value.empty()) return std::unexpected(bad_input("--cli-key takes a file"));
       o.cli_login.key_file = std::move(value);
       return {};
     }},
    {"--cli-agent",
     [](std::string value, HostOptions& o) -> Outcome {
       auto on = parse_on_off("--cli-agent", value);
       if (!on) return std::unexpected(on.error());
       o.cli_login.agent = *on;
       return {};
     }},
    {"--cli-login",
     [](std::string value, HostOptions& o) -> Outcome {
       // A login is made by --cli-user; this option only takes one away.
       if (value != "off")
         return std::unexpected(bad_input("--cli-login takes off (set one with --cli-user)"));
       o.cli_login.remove = true;
       return {};
     }},
    {"--cli",
     [](std::string value, HostOptions& o) -> Outcome {
       auto on = parse_on_off("--cli", value);
       if (!on) return std::unexpected(on.error());
       o.cli = *on ? CliAccess::on : CliAccess::off;
       return {};
     }},
    {"--legacy",
     [](std::string value, HostOptions& o) -> Outcome {
       auto on = parse_on_off("--legacy", value);
       if (!on) return std::unexpected(on.error());
       o.legacy = *on ? LegacyAlgorithms::on : LegacyAlgorithms::off;
       return {};
     }},
    {"--connect-timeout",
     [](std::string value, HostOptions& o) -> Outcome {
       o.connect_timeout_sec = parse_connect_timeout(value);
       if (!o.connect_timeout_sec)
         return std::unexpected(bad_input(
             "--connect-timeout takes SECONDS, a whole number from 1 to 3600, not " + value));
       return {};
     }},
    {"--max-duration",
     [](std::string value, HostOptions& o) -> Outcome {
       if (value == "off") {
         o.max_duration.emplace(std::nullopt);
         return {};
       }
       auto seconds = parse_max_duration(value);
       if (!seconds)
         return std::unexpected(
             bad_input("--max-duration takes SECONDS, a whole number from 1 to " +
                       std::to_string(max_duration_limit_sec) + " (a year), or off, not " + value));
       o.max_duration.emplace(*seconds);
       return {};
     }},
};

// The option at the front of `args` that takes a value, applied; false when none is there.
std::expected<bool, AdminFailure> take_value_option(Arguments& args, HostOptionsFor use,
                                                    HostOptions& options) {
  for (const auto& option : value_options) {
    auto value = args.value_of(option.name);
    if (!value) return std::unexpected(value.error());
    if (!*value) continue;
    if (auto stored = option.store(std::move(**value), options); !stored) {
      return std::unexpected(stored.error());
    }
    return true;
  }
  if (use == HostOptionsFor::set) {
    auto name = args.value_of("--name");
    if (!name) return std::unexpected(name.error());
    if (*name) {
      if (auto stored = set_checked("--name", std::move(**name), check_host_name, options.name);
          !stored) {
        return std::unexpected(stored.error());
      }
      return true;
    }
  }
  return false;
}

}  // namespace

std::expected<HostOptions, AdminFailure> parse_host_options(Arguments& args, HostOptionsFor use) {
  HostOptions options;
  while (!args.done()) {
    if (args.flag("--json")) {
      options.json = true;
      continue;
    }
    if (args.flag("--no-tags")) {
      options.tags.emplace();
      continue;
    }
    // Secrets are asked for, never taken from the command line, where others can read them.
    if (args.flag("--password")) {
      options.credentials.ask_password = true;
      continue;
    }
    if (args.flag("--key-passphrase")) {
      options.credentials.ask_key_passphrase = true;
      continue;
    }
    if (args.flag("--cli-password")) {
      options.cli_login.ask_password = true;
      continue;
    }
    if (args.flag("--cli-key-passphrase")) {
      options.cli_login.ask_key_passphrase = true;
      continue;
    }
    auto fd = take_password_fd(args, options.password_source);
    if (!fd) return std::unexpected(fd.error());
    if (*fd) continue;
    auto taken = take_value_option(args, use, options);
    if (!taken) return std::unexpected(taken.error());
    if (*taken) continue;
    if (args.peek().starts_with('-')) {
      return std::unexpected(
          bad_input("unknown option " + std::string(args.peek()) + " (see pendrel-desktop help)"));
    }
    if (use == HostOptionsFor::set || options.name)
      return std::unexpected(expect_end(args).error());
    if (auto stored =
            set_checked("the host name", std::string(args.take()), check_host_name, options.name);
        !stored) {
      return std::unexpected(stored.error());
    }
  }
  const CliLoginOptions& cli = options.cli_login;
  if (cli.remove &&
      (cli.username || cli.ask_password || cli.key_file || cli.ask_key_passphrase || cli.agent))
    return std::unexpected(bad_input("--cli-login off takes no other --cli- option"));
  return options;
}

void apply_host_options(const HostOptions& options, HostRecord& host) {
  if (options.name) host.name = *options.name;
  if (options.address) host.address = *options.address;
  if (options.port) host.port = *options.port;
  if (options.username) host.username = *options.username;
  if (options.protocol) host.protocol = *options.protocol;
  if (options.tags) host.tags = *options.tags;
  if (options.cli) host.cli = *options.cli;
  if (options.legacy) host.legacy_algorithms = *options.legacy;
  if (options.connect_timeout_sec) host.connect_timeout_sec = *options.connect_timeout_sec;
  if (options.max_duration) host.max_duration_sec = *options.max_duration;
}

}  // namespace pendrel::desktop
