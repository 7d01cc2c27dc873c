// Finds the program a command start runs, past assignments, paths, quoting and wrappers.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace pendrel::desktop {

// A script handed to a shell (`sh -c '…'`, `env -S '…'`, `eval …`), to be examined on its own.
struct NestedScript {
  std::string text;       // the script word with its quoting removed
  std::size_t begin = 0;  // the word's range in the examined text
  std::size_t end = 0;
};

struct FoundCommand {
  std::string program;         // its name: unquoted, without a path
  std::size_t word_begin = 0;  // the program's word as written
  std::size_t word_end = 0;
  std::optional<NestedScript> nested;
};

// The command at `start`, looking no further than `limit`. Removes, repeatedly: blanks,
// redirections with their targets, NAME=value words, and the wrappers sudo, doas, env, timeout,
// nice, ionice, nohup, time, command (not command -v/-V), exec, setsid, stdbuf, xargs and busybox
// with their options. Quotes and backslashes in the program's name are dropped (\rm, "rm", 'r'm are
// rm), and so is a path (/usr/bin/rm is rm). For sh, bash, dash or zsh with -c the script word is
// returned as `nested`, and for eval its words joined by spaces, as eval joins them. Nothing when
// no program word starts there; a command of redirections only
// has an empty program and an empty word where the first redirection starts.
[[nodiscard]] std::optional<FoundCommand> find_command(std::string_view text, std::size_t start,
                                                       std::size_t limit);

// Whether `program` runs other commands that the check must find: find_command steps over it as
// a wrapper or returns a script it runs (a shell, eval), or it has run clauses (find -exec).
[[nodiscard]] bool runs_other_commands(std::string_view program);

}  // namespace pendrel::desktop
