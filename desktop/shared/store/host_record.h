// A saved host as the service keeps it: what `listHosts` shows, and how to reach it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pendrel::desktop {

enum class HostProtocol { ssh, local };
enum class CliAccess { off, on };
// On: an SSH host also offers the older key exchanges, host-key types, ciphers and MACs.
enum class LegacyAlgorithms { off, on };

// How long connecting an SSH host may take, in seconds.
inline constexpr std::uint32_t default_connect_timeout_sec = 10;
inline constexpr std::uint32_t max_connect_timeout_sec = 3600;

struct HostRecord {
  std::string id;  // generated, short, stable
  std::string name;
  std::string address;
  std::uint16_t port = 22;
  std::string username;
  HostProtocol protocol = HostProtocol::ssh;
  std::vector<std::string> tags;
  CliAccess cli = CliAccess::off;
  std::string credential_ref;  // key into the credentials file; empty when none
  // The user of the login pendrel's requests use instead of `username`; empty when the host
  // has none. Its secrets are in the vault only.
  std::string cli_user;
  // How an SSH host is connected. The vault's copy is the one used; this one is for showing.
  LegacyAlgorithms legacy_algorithms = LegacyAlgorithms::off;
  std::uint32_t connect_timeout_sec = default_connect_timeout_sec;
  std::optional<std::uint32_t> max_duration_sec;  // a command's time limit; none by default
};

// "SSH" or "LOCAL", as the hosts file and the answers spell it.
[[nodiscard]] const char* protocol_name(HostProtocol protocol);

}  // namespace pendrel::desktop
