// What is typed into a person's shell to run an agent's command there visibly: lines of
// printable ASCII that the shell reads as data only, running the command in a child `sh -c`
// between two marks that carry a fresh nonce and, at the end, the command's exit status.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace pendrel::desktop {

// Each typed line, Enter included, stays under what a canonical terminal's input line holds
// on every system (1024 bytes on some; Linux holds 4096): a longer line would stall the shell
// at a continuation prompt or lose its tail.
inline constexpr std::size_t max_typed_line_bytes = 1000;

// Bracketed paste, as the shell's line editor last asked for it (DECSET 2004).
enum class BracketedPaste { off, on };

struct TypedCommand {
  // 32 lowercase hex digits (128 random bits), in both marks; see captured_output.h.
  std::string nonce;
  // Written to the terminal in order, each ending with Enter (CR). One line unless the
  // command is too long for one: the script is then built up in a shell variable by the
  // lines before the last, and the last runs it and removes the variable.
  std::vector<std::string> lines;
};

// A nonce from the system's random source, as 32 lowercase hex digits.
[[nodiscard]] std::string fresh_nonce();

// The lines that run `command` through `sh -c` in a subshell of the terminal's shell: its
// current directory, user and exported variables inherited, its `cd` and `export` kept to
// itself; standard input /dev/null; standard error merged into standard output, which is a
// pipe as for any exec. Every line starts with a space, which keeps it out of a history that
// ignores such lines. The terminal's shell reads none of the command's bytes as syntax: a
// short command of printable ASCII is typed single-quoted, where the person reads it as is;
// anything else travels as a printf format of printable ASCII (octal escapes for the other
// bytes) that the subshell decodes, the exact bytes and trailing newlines included. A script
// longer than one argument may be (Linux: 128 KiB) is read by sh from a pipe instead, up to the
// stdin limit and beyond.
// `command` must not hold a NUL byte, which no shell argument can carry; the caller refuses it.
[[nodiscard]] TypedCommand type_command(std::string_view command, std::string nonce,
                                        BracketedPaste paste);

}  // namespace pendrel::desktop
