#include "desktop/shared/terminal/typed_command.h"

#include <sodium.h>

#include <array>

namespace pendrel::desktop {
namespace {

// Not exported: the variable that gathers a long script lives in the terminal's shell and its
// subshell only, and is removed once the command ran.
constexpr std::string_view script_variable = "__pendrel";
// A command longer than this is not given to sh as an argument: Linux bounds one argument at
// 128 KiB, and other systems their whole argument list.
constexpr std::size_t max_argument_bytes = 64 * 1024;
// Lines of a long script gathered in a block before the block joins the whole.
constexpr std::size_t pieces_per_block = 32;

bool is_printable_ascii(unsigned char byte) {
  return byte >= 0x20 && byte <= 0x7e;
}

// `text` single-quoted for a POSIX shell: a quote ends the quoting, is escaped, and reopens it.
std::string single_quoted(std::string_view text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  quoted += '\'';
  return quoted;
}

// The printf format that prints `byte`, as a token that is never split between two lines. Only
// printable ASCII other than the quote, the backslash and the percent sign is written as is, so
// the format is safe between single quotes, and the terminal's line editor and a canonical
// tty's special characters see nothing but ordinary characters.
std::string format_token(unsigned char byte, bool first) {
  if (byte == '%') return "%%";
  // A leading minus would make printf read the format as an option.
  const bool literal =
      is_printable_ascii(byte) && byte != '\'' && byte != '\\' && !(first && byte == '-');
  if (literal) return std::string(1, static_cast<char>(byte));
  return {'\\', static_cast<char>('0' + ((byte >> 6) & 7)),
          static_cast<char>('0' + ((byte >> 3) & 7)), static_cast<char>('0' + (byte & 7))};
}

struct LineFrame {
  std::string_view before;
  std::string_view after;
};

LineFrame frame_for(BracketedPaste paste) {
  // With bracketed paste on, the line editor takes the line as pasted text: no key binding,
  // completion or auto-pairing acts on its characters. Enter follows the paste.
  if (paste == BracketedPaste::on) return {"\x1b[200~", "\x1b[201~\r"};
  return {"", "\r"};
}

std::string framed(const LineFrame& frame, std::string_view body) {
  std::string line;
  line.reserve(frame.before.size() + body.size() + frame.after.size());
  line += frame.before;
  line += body;
  line += frame.after;
  return line;
}

// The line that runs the command with `runner` (which merges stderr and reads /dev/null)
// between the marks. The subshell keeps cd and export from the terminal's shell; `command cat`
// gives the command a pipe (no pager, no colours), as an exec without a terminal has, whatever
// `cat` is aliased to.
std::string run_line_body(std::string_view nonce, std::string_view runner, std::string_view after) {
  std::string body = " (printf '\\033]7337;S;";
  body += nonce;
  body += "\\007'; ";
  body += runner;
  body += "; printf '\\033]7337;E;";
  body += nonce;
  body += ";%d\\007' $?) | command cat";
  body += after;
  return body;
}

std::string sh_c_runner(std::string_view script_word, bool option_like) {
  return std::string(option_like ? "sh -c -- " : "sh -c ") + std::string(script_word) +
         " </dev/null 2>&1";
}

// Decodes the format in the subshell into the variable and runs it with sh -c; the trailing x
// keeps the script's own trailing newlines, which a command substitution would drop.
std::string decoding_runner(std::string_view format_word, bool option_like) {
  std::string variable(script_variable);
  return variable + "=$(printf " + std::string(format_word) + "; printf x); " +
         sh_c_runner("\"${" + variable + "%x}\"", option_like);
}

// A script too long to be one argument (the kernel bounds each to 128 KiB) is read by sh from
// a pipe on descriptor 3, its standard input still /dev/null.
std::string piped_runner(std::string_view format_word) {
  return "printf " + std::string(format_word) + " | sh /dev/fd/3 3<&0 </dev/null 2>&1";
}

}  // namespace

std::string fresh_nonce() {
  std::array<unsigned char, 16> bytes{};
  randombytes_buf(bytes.data(), bytes.size());
  std::array<char, 2 * 16 + 1> hex{};
  sodium_bin2hex(hex.data(), hex.size(), bytes.data(), bytes.size());
  return std::string(hex.data(), 2 * 16);
}

TypedCommand type_command(std::string_view command, std::string nonce, BracketedPaste paste) {
  TypedCommand typed{std::move(nonce), {}};
  const LineFrame frame = frame_for(paste);
  const std::size_t frame_bytes = frame.before.size() + frame.after.size();
  const bool option_like = !command.empty() && (command.front() == '-' || command.front() == '+');

  bool plain = true;
  for (char c : command)
    plain = plain && is_printable_ascii(static_cast<unsigned char>(c));
  if (plain) {
    std::string body =
        run_line_body(typed.nonce, sh_c_runner(single_quoted(command), option_like), "");
    if (body.size() + frame_bytes <= max_typed_line_bytes) {
      typed.lines.push_back(framed(frame, body));
      return typed;
    }
  }

  std::vector<std::string> tokens;
  tokens.reserve(command.size());
  std::size_t format_bytes = 0;
  for (std::size_t i = 0; i < command.size(); ++i) {
    tokens.push_back(format_token(static_cast<unsigned char>(command[i]), i == 0));
    format_bytes += tokens.back().size();
  }

  std::string format = "'";
  format.reserve(format_bytes + 2);
  for (const auto& token : tokens)
    format += token;
  format += '\'';
  std::string inline_body = run_line_body(typed.nonce, decoding_runner(format, option_like), "");
  if (inline_body.size() + frame_bytes <= max_typed_line_bytes) {
    typed.lines.push_back(framed(frame, inline_body));
    return typed;
  }

  // Too long for one line: the format is gathered a piece per line and the last line decodes
  // and runs it. Pieces go into a block variable, and each full block onto the whole: a shell
  // copies a variable to append to it, and appending every piece to a megabyte would cost the
  // square of the script's length.
  const std::string whole(script_variable);
  const std::string block = whole + "_b";
  const std::string block_head = " " + block + "='";
  const std::string next_head = " " + block + "=$" + block + "'";
  const std::string first_prefix = " " + whole + "=;";
  const std::string gather_prefix = " " + whole + "=$" + whole + "$" + block + ";";
  const std::size_t room =
      max_typed_line_bytes - frame_bytes - gather_prefix.size() - block_head.size() - 1;
  std::string piece;
  std::size_t pieces = 0;
  auto flush = [&] {
    std::string body;
    if (pieces % pieces_per_block == 0)
      body = (pieces == 0 ? first_prefix : gather_prefix) + block_head;
    else
      body = next_head;
    typed.lines.push_back(framed(frame, body + piece + "'"));
    piece.clear();
    ++pieces;
  };
  for (const auto& token : tokens) {
    if (piece.size() + token.size() > room) flush();
    piece += token;
  }
  if (!piece.empty() || pieces == 0) flush();
  const std::string variable_word = "\"$" + whole + "$" + block + "\"";
  typed.lines.push_back(
      framed(frame, run_line_body(typed.nonce,
                                  command.size() > max_argument_bytes
                                      ? piped_runner(variable_word)
                                      : decoding_runner(variable_word, option_like),
                                  "; unset " + whole + " " + block)));
  return typed;
}

}  // namespace pendrel::desktop
