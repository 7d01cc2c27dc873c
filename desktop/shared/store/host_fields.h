// The rules a host's fields obey, checked when a host is saved and when the hosts file is read.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "desktop/shared/store/host_record.h"

namespace pendrel::desktop {

// Each check gives nothing for a good value, or why it is refused ("must not start with
// '-'"), for the caller to put after the field's name.
using FieldCheck = std::optional<std::string>;

// 1 to 64 of a-z, 0-9, '-' and '_' (generated ids are 8 of a-z and 0-9).
[[nodiscard]] FieldCheck check_host_id(std::string_view id);
// 1 to 128 bytes of valid UTF-8, no control characters, no leading '-' (it would read as an
// option on pendrel's command line).
[[nodiscard]] FieldCheck check_host_name(std::string_view name);
// A host name or an IP address (IPv6 bare or in brackets, with an optional zone): 1 to 253 of
// letters, digits and . - _ : % [ ], not starting with '-'.
[[nodiscard]] FieldCheck check_address(std::string_view address);
// What the SSH library accepts as a user name: 1 to 64 bytes, no control characters, no
// leading '-', none of the shell's special characters ; \ ' " ` $ | & < > ( ) (a space is
// allowed).
[[nodiscard]] FieldCheck check_username(std::string_view username);
// 1 to 64 bytes of valid UTF-8, no control characters, no white space, no ','.
[[nodiscard]] FieldCheck check_tag(std::string_view tag);

// A port number written in decimal, 1 to 65535; nothing otherwise.
[[nodiscard]] std::optional<std::uint16_t> parse_port(std::string_view text);

// Seconds written in decimal within the connect timeout's range (1 to 3600); nothing
// otherwise.
[[nodiscard]] std::optional<std::uint32_t> parse_connect_timeout(std::string_view text);

// The longest a command's time limit may be: a year, in seconds.
inline constexpr std::uint32_t max_duration_limit_sec = 366 * 24 * 3600;

// Seconds written in decimal, 1 to max_duration_limit_sec; nothing otherwise.
[[nodiscard]] std::optional<std::uint32_t> parse_max_duration(std::string_view text);

// "SSH" or "LOCAL", case-insensitively; nothing otherwise.
[[nodiscard]] std::optional<HostProtocol> parse_protocol(std::string_view text);

// The first failing check of the record's fields as "{field} {reason}", or nothing.
[[nodiscard]] FieldCheck check_host_record(const HostRecord& host);

}  // namespace pendrel::desktop
