#include "protocol/unavailable_marker.h"

#include <signal.h>

#include <limits>

#include "protocol/decimal.h"
#include "protocol/fd_io.h"
#include "protocol/lexical_path.h"
#include "protocol/utf8.h"
#include "protocol/white_space.h"

namespace pendrel {
namespace {

bool is_alive(std::uint32_t pid) {
  // Above the signed range the PID would be negative, and kill would address a process
  // group; 0 would address our own group and always succeed. Neither names the writer.
  if (pid == 0 || pid > static_cast<std::uint32_t>(std::numeric_limits<pid_t>::max())) {
    return false;
  }
  return ::kill(static_cast<pid_t>(pid), 0) == 0;
}

}  // namespace

std::optional<UnavailableMarker> parse_unavailable_marker(std::string_view text) {
  if (!is_valid_utf8(text)) return std::nullopt;
  std::size_t line_end = text.find('\n');
  if (line_end == std::string_view::npos) return std::nullopt;
  auto pid = parse_decimal_u32(trim_white_space(text.substr(0, line_end)));
  if (!pid) return std::nullopt;
  std::string_view reason = trim_white_space(text.substr(line_end + 1));
  return UnavailableMarker{*pid, reason.empty() ? "unknown" : std::string(reason)};
}

std::optional<std::string> read_unavailable_marker(const std::string& working_data_dir) {
  auto content = read_whole_file(join_path(working_data_dir, "run/cli.unavailable"));
  if (!content) return std::nullopt;
  auto marker = parse_unavailable_marker(*content);
  // A stale marker outlives the application that wrote it; only a live writer counts.
  if (!marker || !is_alive(marker->pid)) return std::nullopt;
  return std::move(marker->reason);
}

}  // namespace pendrel
