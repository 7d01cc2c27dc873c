#include "desktop/shared/terminal/typed_command.h"

#include <sodium.h>

#include <array>

namespace pendrel::desktop {
namespace {

// Not exported: the variable that gathers a long script lives in the terminal's shell and its
// subshell only, and is removed once the command ran.
constexpr std::string_view script_variable = "__pendrel";

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

// The line that runs the script given by `script_setup` and `script_word`, between the marks.
// The subshell keeps cd and export from the terminal's shell; `command cat` gives the command a
// pipe (no pager, no colours), as an exec without a terminal has, whatever `cat` is aliased to.
std::string run_line_body(std::string_view nonce, std::string_view script_setup,
                          std::string_view script_word, bool option_like, std::string_view after) {
  std::string body = " (printf '\\033]7337;S;";
  body += nonce;
  body += "\\007'; ";
  body += script_setup;
  body += option_like ? "sh -c -- " : "sh -c ";
  body += script_word;
  body += " </dev/null 2>&1; printf '\\033]7337;E;";
  body += nonce;
  body += ";%d\\007' $?) | command cat";
  body += after;
  return body;
}

// Decodes the format in the subshell into the variable; the trailing x keeps the script's own
// trailing newlines, which a command substitution would drop, and is cut off again.
std::string decoding_step(std::string_view format_word) {
  std::string step(script_variable);
  step += "=$(printf ";
  step += format_word;
  step += "; printf x); ";
  return step;
}

std::string decoded_script_word() {
  return "\"${" + std::string(script_variable) + "%x}\"";
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
    std::string body = run_line_body(typed.nonce, "", single_quoted(command), option_like, "");
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
  std::string inline_body =
      run_line_body(typed.nonce, decoding_step(format), decoded_script_word(), option_like, "");
  if (inline_body.size() + frame_bytes <= max_typed_line_bytes) {
    typed.lines.push_back(framed(frame, inline_body));
    return typed;
  }

  // Too long for one line: the format is gathered in the variable a piece at a time, each
  // piece on a line of its own, and the last line decodes and runs it.
  const std::string first_head = " " + std::string(script_variable) + "='";
  const std::string next_head =
      " " + std::string(script_variable) + "=$" + std::string(script_variable) + "'";
  const std::size_t room = max_typed_line_bytes - frame_bytes - next_head.size() - 1;
  std::string piece;
  auto flush = [&] {
    const std::string& head = typed.lines.empty() ? first_head : next_head;
    typed.lines.push_back(framed(frame, head + piece + "'"));
    piece.clear();
  };
  for (const auto& token : tokens) {
    if (piece.size() + token.size() > room) flush();
    piece += token;
  }
  if (!piece.empty() || typed.lines.empty()) flush();
  const std::string variable_word = "\"$" + std::string(script_variable) + "\"";
  typed.lines.push_back(
      framed(frame, run_line_body(typed.nonce, decoding_step(variable_word), decoded_script_word(),
                                  option_like, "; unset " + std::string(script_variable))));
  return typed;
}

}  // namespace pendrel::desktop
