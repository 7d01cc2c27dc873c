// The options of `host add` and `host set`, checked against the host field rules.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <vector>

#include "desktop/broker/admin/admin_failure.h"
#include "desktop/broker/admin/arguments.h"
#include "desktop/broker/admin/hosts_edit.h"
#include "desktop/shared/store/host_record.h"

namespace pendrel::desktop {

// What the person asked to set; a field not given stays as it is (or takes its default for
// `host add`).
struct HostOptions {
  std::optional<std::string> name;  // the NAME operand of add, --name of set
  std::optional<std::string> address;
  std::optional<std::uint16_t> port;
  std::optional<std::string> username;
  std::optional<HostProtocol> protocol;
  std::optional<std::vector<std::string>> tags;  // every --tag, or empty for --no-tags
  std::optional<CliAccess> cli;
  std::optional<LegacyAlgorithms> legacy;                    // --legacy on|off
  std::optional<std::uint32_t> connect_timeout_sec;          // --connect-timeout SECONDS
  std::optional<std::optional<std::uint32_t>> max_duration;  // --max-duration SECONDS|off
  CredentialOptions credentials;   // --password, --key FILE, --key-passphrase, --agent on|off
  CliLoginOptions cli_login;       // --cli-user, --cli-password, --cli-key, ... --cli-login off
  PasswordSource password_source;  // --password-fd N
  bool json = false;
};

enum class HostOptionsFor { add, set };

// Reads the rest of `args`. For `add` the one operand is the name; for `set` the name comes
// from --name and no operand is allowed. Every value is checked here, so that a refused
// value never reaches the file.
[[nodiscard]] std::expected<HostOptions, AdminFailure> parse_host_options(Arguments& args,
                                                                          HostOptionsFor use);

// Copies the given options onto `host`.
void apply_host_options(const HostOptions& options, HostRecord& host);

}  // namespace pendrel::desktop
