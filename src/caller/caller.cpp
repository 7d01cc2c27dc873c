#include "caller/caller.h"

#include <unistd.h>

#include <set>

#include "protocol/decimal.h"
#include "protocol/fd_io.h"
#include "protocol/utf8.h"

namespace pendrel {
namespace {

bool is_field_space(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

std::optional<ProcessStatus> read_process_status(std::string_view proc_root, std::uint32_t pid) {
  std::string path(proc_root);
  path += '/';
  path += std::to_string(pid);
  path += "/stat";
  auto text = read_whole_file(path);
  if (!text || !is_valid_utf8(*text)) return std::nullopt;
  return parse_process_status(*text);
}

}  // namespace

std::optional<ProcessStatus> parse_process_status(std::string_view text) {
  std::size_t open = text.find('(');
  std::size_t close = text.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
    return std::nullopt;
  }
  ProcessStatus status;
  status.name = std::string(text.substr(open + 1, close - open - 1));

  // Fields after the name: the state, then the parent id.
  std::string_view rest = text.substr(close + 1);
  std::string_view fields[2];
  std::size_t found = 0;
  std::size_t at = 0;
  while (found < 2) {
    while (at < rest.size() && is_field_space(rest[at]))
      ++at;
    if (at >= rest.size()) return std::nullopt;
    std::size_t end = at;
    while (end < rest.size() && !is_field_space(rest[end]))
      ++end;
    fields[found++] = rest.substr(at, end - at);
    at = end;
  }
  auto parent = parse_decimal_u32(fields[1]);
  if (!parent) return std::nullopt;
  status.parent = *parent;
  return status;
}

std::vector<std::string> caller_list(std::string_view proc_root, std::uint32_t own_pid) {
  std::vector<std::string> names;
  auto own = read_process_status(proc_root, own_pid);
  if (!own) return names;
  std::set<std::uint32_t> visited{own_pid};
  std::uint32_t pid = own->parent;
  while (pid != 0 && visited.insert(pid).second) {
    auto status = read_process_status(proc_root, pid);
    if (!status) break;
    if (!status->name.empty()) names.push_back(std::move(status->name));
    pid = status->parent;
    if (names.size() == max_callers) break;
  }
  return names;
}

std::vector<std::string> current_caller_list() {
  return caller_list("/proc", static_cast<std::uint32_t>(::getpid()));
}

}  // namespace pendrel
