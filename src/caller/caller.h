// The caller list: names of this process's ancestors, nearest first, for the desktop
// application's audit and approval prompts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pendrel {

inline constexpr std::size_t max_callers = 5;

struct ProcessStatus {
  std::string name;
  std::uint32_t parent = 0;  // 0: no parent
};

// Parses the text of /proc/<pid>/stat: the name between the first "(" and the last ")", the
// parent id as the second field after it. Nothing when either is missing or malformed.
[[nodiscard]] std::optional<ProcessStatus> parse_process_status(std::string_view text);

// Walks up from `own_pid` through `proc_root`/<pid>/stat; never fails. At most five names,
// empty names skipped, cycles stopped.
[[nodiscard]] std::vector<std::string> caller_list(std::string_view proc_root,
                                                   std::uint32_t own_pid);

// The list for this process, from /proc.
[[nodiscard]] std::vector<std::string> current_caller_list();

}  // namespace pendrel
