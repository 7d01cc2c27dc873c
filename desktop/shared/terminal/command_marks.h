// The marks around an agent's command in a terminal's output, written by printf in the
// subshell that runs it: OSC 7337 (a number no terminal uses, so the person's terminal
// ignores them), S before the command's output, E after it with the exit status.
//   ESC ] 7337 ; S ; <nonce> BEL            ESC ] 7337 ; E ; <nonce> ; <status> BEL
// The echo of the typed line shows `\033` as four characters and never carries an ESC byte,
// so it cannot be taken for a mark; the nonce tells this command's marks from any other's.
#pragma once

#include <string>
#include <string_view>

namespace pendrel::desktop {

inline constexpr std::string_view mark_introducer = "\x1b]7337;";

// The start mark as it arrives.
[[nodiscard]] inline std::string start_mark(std::string_view nonce) {
  return std::string(mark_introducer) + "S;" + std::string(nonce) + "\a";
}

// The end mark up to its status: the decimal status and BEL follow.
[[nodiscard]] inline std::string end_mark_prefix(std::string_view nonce) {
  return std::string(mark_introducer) + "E;" + std::string(nonce) + ";";
}

}  // namespace pendrel::desktop
