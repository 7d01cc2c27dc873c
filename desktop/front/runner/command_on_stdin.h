// Commands too long for one argument of the shell: Linux refuses any single argument over
// 128 KiB (MAX_ARG_STRLEN), on this machine and on an SSH server alike, while a command may be
// as long as pendrel's stdin limit. Such a command reaches the shell on its standard input.
#pragma once

#include <cstddef>
#include <string_view>

namespace pendrel::desktop {

// Longer commands go through standard input; shorter ones stay the shell's -c argument, as
// they always ran. Well under the kernel's bound, which also counts the terminating NUL.
inline constexpr std::size_t longest_command_argument = 100 * 1024;

// What the shell runs with -c in place of a long command: the command's text is read from
// standard input to its end into a command substitution (a string in the shell's memory, never
// an argument), standard input becomes /dev/null before the first of its lines runs, and eval
// runs it in the same shell, so $0, $$, exit and the exit status are those of `sh -c`. The
// prefix shares the first line, so error messages keep the command's own line numbers.
inline constexpr std::string_view command_from_stdin = R"sh(eval "exec </dev/null;$(cat)")sh";

[[nodiscard]] constexpr bool needs_command_on_stdin(std::string_view command) {
  return command.size() > longest_command_argument;
}

}  // namespace pendrel::desktop
