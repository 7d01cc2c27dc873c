#include "desktop/broker/rules/shell_words.h"

#include <algorithm>

namespace pendrel::desktop {
namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes the common escapes of $'…' so that `bash -c $'\x72eboot'` is read as the shell
// reads it. Returns the position after the closing quote (or `limit`).
std::size_t read_ansi_c_quoted(std::string_view text, std::size_t pos, std::size_t limit,
                               std::string& out) {
  while (pos < limit && text[pos] != '\'') {
    char c = text[pos++];
    if (c != '\\' || pos >= limit) {
      out += c;
      continue;
    }
    char escape = text[pos++];
    switch (escape) {
      case 'n':
        out += '\n';
        break;
      case 't':
        out += '\t';
        break;
      case 'r':
        out += '\r';
        break;
      case 'x': {
        int value = 0;
        int digits = 0;
        while (digits < 2 && pos < limit && hex_value(text[pos]) >= 0) {
          value = value * 16 + hex_value(text[pos++]);
          ++digits;
        }
        if (digits == 0)
          out += "\\x";
        else
          out += static_cast<char>(value);
        break;
      }
      default:
        if (escape >= '0' && escape <= '7') {
          int value = escape - '0';
          for (int digits = 1; digits < 3 && pos < limit && text[pos] >= '0' && text[pos] <= '7';
               ++digits) {
            value = value * 8 + (text[pos++] - '0');
          }
          out += static_cast<char>(value & 0xff);
        } else {
          out += escape;  // \\ \' \" and anything else stand for themselves
        }
    }
  }
  return pos < limit ? pos + 1 : limit;
}

}  // namespace

std::size_t skip_blanks(std::string_view text, std::size_t pos, std::size_t limit) {
  while (pos < limit && is_blank(text[pos]))
    ++pos;
  return pos;
}

std::size_t append_shell_word(std::string_view text, std::size_t pos, std::size_t limit,
                              std::string& out) {
  while (pos < limit && !ends_word(text[pos])) {
    char c = text[pos];
    if (c == '\\') {
      if (pos + 1 < limit) out += text[pos + 1];
      pos += 2;
    } else if (c == '\'') {
      std::size_t close = std::min(text.substr(0, limit).find('\'', pos + 1), limit);
      out.append(text.substr(pos + 1, close - pos - 1));
      pos = close < limit ? close + 1 : limit;
    } else if (c == '$' && pos + 1 < limit && text[pos + 1] == '\'') {
      pos = read_ansi_c_quoted(text, pos + 2, limit, out);
    } else if (c == '"') {
      ++pos;
      while (pos < limit && text[pos] != '"') {
        // Inside double quotes a backslash only escapes $ ` " \ and the line break.
        if (text[pos] == '\\' && pos + 1 < limit) {
          char next = text[pos + 1];
          if (next == '$' || next == '`' || next == '"' || next == '\\' || next == '\n') {
            if (next != '\n') out += next;
            pos += 2;
            continue;
          }
        }
        out += text[pos++];
      }
      if (pos < limit) ++pos;
    } else {
      // A run of plain characters at once: most words are nothing else.
      std::size_t end = pos + 1;
      while (end < limit && !ends_word(text[end]) && text[end] != '\\' && text[end] != '\'' &&
             text[end] != '"' && text[end] != '$')
        ++end;
      out.append(text.substr(pos, end - pos));
      pos = end;
    }
  }
  return pos < limit ? pos : limit;
}

ShellWord read_shell_word(std::string_view text, std::size_t pos, std::size_t limit) {
  ShellWord word;
  word.end = append_shell_word(text, pos, limit, word.text);
  return word;
}

bool is_assignment(std::string_view word) {
  if (word.empty() || !(word[0] == '_' || (word[0] >= 'A' && word[0] <= 'Z') ||
                        (word[0] >= 'a' && word[0] <= 'z'))) {
    return false;
  }
  for (std::size_t i = 1; i < word.size(); ++i) {
    char c = word[i];
    if (c == '=' || (c == '+' && i + 1 < word.size() && word[i + 1] == '=')) return true;
    bool name_char =
        c == '_' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (!name_char) return false;
  }
  return false;
}

}  // namespace pendrel::desktop
