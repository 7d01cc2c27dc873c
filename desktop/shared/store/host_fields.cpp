#include "desktop/shared/store/host_fields.h"

#include <algorithm>
#include <cctype>

#include "protocol/decimal.h"
#include "protocol/utf8.h"

namespace pendrel::desktop {
namespace {

bool has_control_character(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
  });
}

bool is_lower_alnum(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

FieldCheck check_text(std::string_view text, std::size_t max_bytes) {
  if (text.empty()) return "must not be empty";
  if (text.size() > max_bytes) return "must be at most " + std::to_string(max_bytes) + " bytes";
  if (!is_valid_utf8(text)) return "must be valid UTF-8";
  if (has_control_character(text)) return "must not contain control characters";
  return std::nullopt;
}

}  // namespace

FieldCheck check_host_id(std::string_view id) {
  if (id.empty() || id.size() > 64) return "must be 1 to 64 characters";
  bool allowed = std::all_of(id.begin(), id.end(),
                             [](char c) { return is_lower_alnum(c) || c == '-' || c == '_'; });
  if (!allowed) return "may hold only a-z, 0-9, '-' and '_'";
  return std::nullopt;
}

FieldCheck check_host_name(std::string_view name) {
  if (auto bad = check_text(name, 128)) return bad;
  if (name.front() == '-') return "must not start with '-'";
  return std::nullopt;
}

FieldCheck check_address(std::string_view address) {
  if (address.empty() || address.size() > 253) return "must be 1 to 253 characters";
  bool allowed = std::all_of(address.begin(), address.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 ||
           std::string_view(".-_:%[]").find(c) != std::string_view::npos;
  });
  if (!allowed) return "may hold only letters, digits and . - _ : % [ ]";
  if (address.front() == '-') return "must not start with '-'";
  return std::nullopt;
}

FieldCheck check_username(std::string_view username) {
  if (auto bad = check_text(username, 64)) return bad;
  if (username.front() == '-') return "must not start with '-'";
  // The SSH library refuses these since its fix against command injection through user names;
  // refusing them here tells the person at once instead of at the first connection.
  if (username.find_first_of(";\\'\"`$|&<>()") != std::string_view::npos) {
    return "must not contain any of ; \\ ' \" ` $ | & < > ( )";
  }
  return std::nullopt;
}

FieldCheck check_tag(std::string_view tag) {
  if (auto bad = check_text(tag, 64)) return bad;
  if (tag.find_first_of(" ,") != std::string_view::npos) return "must not contain spaces or ','";
  return std::nullopt;
}

std::optional<std::uint16_t> parse_port(std::string_view text) {
  if (text.starts_with('+')) return std::nullopt;
  auto value = parse_decimal_u32(text);
  if (!value || *value == 0 || *value > 65535) return std::nullopt;
  return static_cast<std::uint16_t>(*value);
}

std::optional<std::uint32_t> parse_connect_timeout(std::string_view text) {
  if (text.starts_with('+')) return std::nullopt;
  auto value = parse_decimal_u32(text);
  if (!value || *value == 0 || *value > max_connect_timeout_sec) return std::nullopt;
  return value;
}

std::optional<std::uint32_t> parse_max_duration(std::string_view text) {
  if (text.starts_with('+')) return std::nullopt;
  auto value = parse_decimal_u32(text);
  if (!value || *value == 0 || *value > max_duration_limit_sec) return std::nullopt;
  return value;
}

std::optional<HostProtocol> parse_protocol(std::string_view text) {
  std::string upper(text);
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  if (upper == "SSH") return HostProtocol::ssh;
  if (upper == "LOCAL") return HostProtocol::local;
  return std::nullopt;
}

FieldCheck check_host_record(const HostRecord& host) {
  auto named = [](std::string_view field, FieldCheck reason) -> FieldCheck {
    if (!reason) return std::nullopt;
    return std::string(field) + " " + *reason;
  };
  if (auto bad = named("id", check_host_id(host.id))) return bad;
  if (auto bad = named("name", check_host_name(host.name))) return bad;
  if (auto bad = named("address", check_address(host.address))) return bad;
  if (host.port == 0) return "port must be from 1 to 65535";
  if (auto bad = named("username", check_username(host.username))) return bad;
  if (!host.cli_user.empty()) {
    if (auto bad = named("command-line user", check_username(host.cli_user))) return bad;
  }
  for (const auto& tag : host.tags) {
    if (auto bad = named("tag", check_tag(tag))) return bad;
  }
  if (host.connect_timeout_sec == 0 || host.connect_timeout_sec > max_connect_timeout_sec)
    return "connect timeout must be from 1 to 3600 seconds";
  if (host.max_duration_sec && *host.max_duration_sec == 0)
    return "maximum duration must be at least 1 second";
  return std::nullopt;
}

}  // namespace pendrel::desktop
