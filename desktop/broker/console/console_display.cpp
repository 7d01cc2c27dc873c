#include "desktop/broker/console/console_display.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "protocol/utf8.h"

namespace pendrel::desktop {
namespace {

constexpr std::string_view reverse_on = "\033[7m";
constexpr std::string_view reverse_off = "\033[27m";
constexpr std::string_view bold_on = "\033[1m";
constexpr std::string_view bold_off = "\033[22m";

// A command of more lines than this shows the lines around the match.
constexpr std::size_t max_shown_lines = 60;
constexpr std::size_t context_lines = 20;
// A line longer than this shows the part around the match, or its start.
constexpr std::size_t max_shown_line_bytes = 1000;
constexpr std::size_t line_context_bytes = 300;
// The live feed shows this much of a command.
constexpr std::size_t max_feed_command_bytes = 200;

bool continuation(char byte) {
  return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

std::size_t back_to_char(std::string_view text, std::size_t at) {
  while (at > 0 && at < text.size() && continuation(text[at]))
    --at;
  return std::min(at, text.size());
}

std::string hex_escape(unsigned value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "\\x%02x", value);
  return buffer;
}

std::string unicode_escape(char32_t value) {
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "\\u{%x}", static_cast<unsigned>(value));
  return buffer;
}

// Formatting characters that draw nothing but can hide text or change its order on screen.
bool invisible_format(char32_t c) {
  return c == 0x061C || (c >= 0x200B && c <= 0x200F) || (c >= 0x202A && c <= 0x202E) ||
         (c >= 0x2060 && c <= 0x2069) || c == 0xFEFF;
}

// Decodes the well-formed UTF-8 sequence at `at` (to_display_text has made it so).
char32_t decode_at(std::string_view text, std::size_t at, std::size_t& length) {
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
  unsigned char first = byte(0);
  if (first < 0x80) {
    length = 1;
    return first;
  }
  if (first < 0xE0) {
    length = 2;
    return ((first & 0x1Fu) << 6) | (byte(1) & 0x3Fu);
  }
  if (first < 0xF0) {
    length = 3;
    return ((first & 0x0Fu) << 12) | ((byte(1) & 0x3Fu) << 6) | (byte(2) & 0x3Fu);
  }
  length = 4;
  return ((first & 0x07u) << 18) | ((byte(1) & 0x3Fu) << 12) | ((byte(2) & 0x3Fu) << 6) |
         (byte(3) & 0x3Fu);
}

std::string shown_time(const std::string& utc) {
  // 2026-12-08T03:04:05.678Z: the time of day is what a person watching needs.
  return utc.size() >= 19 ? utc.substr(11, 8) : utc;
}

std::string first_line_of(std::string_view command) {
  std::size_t end = command.find('\n');
  bool more = end != std::string_view::npos && end + 1 < command.size();
  std::string_view line = command.substr(0, end);
  bool long_line = line.size() > max_feed_command_bytes;
  line = line.substr(0, back_to_char(line, std::min(line.size(), max_feed_command_bytes)));
  return terminal_safe(line) + (long_line || more ? "…" : "");
}

std::string callers_text(const std::vector<std::string>& callers) {
  if (callers.empty()) return "(none given)";
  std::string text;
  for (const auto& caller : callers)
    text += (text.empty() ? "" : " > ") + terminal_safe(caller);
  return text;
}

// One line of the command, [begin, end) of `command`, with the part inside the match marked.
std::string marked_line(std::string_view command, std::size_t begin, std::size_t end,
                        std::size_t match_begin, std::size_t match_end) {
  std::size_t from = begin;
  std::size_t to = end;
  std::string prefix, suffix;
  if (end - begin > max_shown_line_bytes) {
    bool has_match = match_begin < end && match_end > begin;
    std::size_t anchor = has_match ? std::max(match_begin, begin) : begin;
    from = back_to_char(command,
                        anchor > begin + line_context_bytes ? anchor - line_context_bytes : begin);
    std::size_t stop = has_match ? std::min(match_end, anchor + max_shown_line_bytes) : anchor;
    to = back_to_char(command, std::min(end, stop + line_context_bytes));
    if (from > begin) prefix = "…";
    if (to < end) suffix = "… (" + std::to_string(end - begin) + " bytes in this line)";
  }
  std::size_t mark_from = std::clamp(match_begin, from, to);
  std::size_t mark_to = std::clamp(match_end, from, to);
  std::string out = prefix + terminal_safe(command.substr(from, mark_from - from));
  if (mark_to > mark_from) {
    out += reverse_on;
    out += terminal_safe(command.substr(mark_from, mark_to - mark_from));
    out += reverse_off;
  }
  out += terminal_safe(command.substr(mark_to, to - mark_to)) + suffix;
  return out;
}

}  // namespace

std::string terminal_safe(std::string_view raw) {
  std::string text = to_display_text(raw);
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    std::size_t length = 1;
    char32_t c = decode_at(text, at, length);
    if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      out += hex_escape(static_cast<unsigned>(c));
    } else if ((c >= 0x80 && c < 0xA0) || invisible_format(c)) {
      out += unicode_escape(c);
    } else {
      out.append(text, at, length);
    }
    at += length;
  }
  return out;
}

std::string request_line(const RequestFeed& feed) {
  std::string line = shown_time(feed.time) + "  " + terminal_safe(feed.kind);
  if (!feed.host.empty()) line += "  " + terminal_safe(feed.host);
  line += "  pid " + std::to_string(feed.pid);
  if (!feed.callers.empty()) line += " " + callers_text(feed.callers);
  if (!feed.command.empty()) line += "  `" + first_line_of(feed.command) + "`";
  if (!feed.local.empty() || !feed.remote.empty()) {
    bool upload = feed.kind == "upload";
    line += "  " + terminal_safe(upload ? feed.local : feed.remote) + " -> " +
            terminal_safe(upload ? feed.remote : feed.local);
  }
  if (!feed.terminal.empty()) line += "  terminal " + terminal_safe(feed.terminal);
  line += "  " + terminal_safe(feed.outcome);
  if (!feed.reason.empty()) line += " (" + terminal_safe(feed.reason) + ")";
  if (feed.exit_code) line += " exit " + std::to_string(*feed.exit_code);
  line += "  " + std::to_string(feed.duration_ms) + " ms";
  if (!feed.rule.empty()) {
    line += "  rule " + terminal_safe(feed.rule);
    if (!feed.approval.empty()) line += " (" + terminal_safe(feed.approval) + ")";
  }
  return line;
}

std::string question_block(const AskEvent& ask) {
  std::string out;
  out += std::string(bold_on) + "=== rule match #" + std::to_string(ask.id) +
         ": the command waits for your decision ===" + std::string(bold_off) + "\n";
  out += "host:    " + terminal_safe(ask.host) + "\n";
  out += "callers: " + callers_text(ask.callers) + "\n";
  out += "rule:    " + terminal_safe(ask.rule);
  if (!ask.description_en.empty()) out += " - " + terminal_safe(ask.description_en);
  out += "\n";
  if (!ask.description_zh.empty()) out += "         " + terminal_safe(ask.description_zh) + "\n";
  std::string_view command = ask.command;
  std::size_t match_begin = std::min(ask.match_begin, command.size());
  std::size_t match_end = std::clamp(ask.match_end, match_begin, command.size());
  out += "match:   `" + terminal_safe(command.substr(match_begin, match_end - match_begin)) + "`\n";
  // Where each line starts; a final line feed does not open another line.
  std::vector<std::size_t> starts{0};
  for (std::size_t at = command.find('\n'); at != std::string_view::npos && at + 1 < command.size();
       at = command.find('\n', at + 1))
    starts.push_back(at + 1);
  std::size_t lines = starts.size();
  auto line_end = [&](std::size_t line) {
    std::size_t end = line + 1 < lines ? starts[line + 1] - 1 : command.size();
    if (end > starts[line] && command[end - 1] == '\n') --end;
    return end;
  };
  std::size_t match_line =
      static_cast<std::size_t>(std::upper_bound(starts.begin(), starts.end(), match_begin) -
                               starts.begin()) -
      1;
  std::size_t first = 0;
  std::size_t last = lines;
  if (lines > max_shown_lines) {
    first = match_line > context_lines ? match_line - context_lines : 0;
    last = std::min(lines, match_line + context_lines + 1);
  }
  out += "command: " + std::to_string(lines) + (lines == 1 ? " line" : " lines");
  if (ask.omitted_before + ask.omitted_after > 0)
    out += ", the part around the match (" + std::to_string(ask.omitted_before) +
           " bytes before and " + std::to_string(ask.omitted_after) + " after are not shown)";
  out += "\n";
  if (first > 0) out += "     … " + std::to_string(first) + " lines above\n";
  std::size_t width = std::max<std::size_t>(std::to_string(last).size(), 4);
  for (std::size_t line = first; line < last; ++line) {
    std::string number = std::to_string(line + 1);
    out += std::string(width - number.size(), ' ') + number + " | " +
           marked_line(command, starts[line], line_end(line), match_begin, match_end) + "\n";
  }
  if (last < lines) out += "     … " + std::to_string(lines - last) + " lines below\n";
  return out;
}

std::string prompt_line(PromptMode mode, const AskEvent* current, std::uint64_t seconds_left,
                        std::size_t waiting) {
  if (mode == PromptMode::watching || current == nullptr) return "watching requests  [q] quit";
  std::string line = "#" + std::to_string(current->id) + " " + terminal_safe(current->rule) + ": " +
                     std::to_string(seconds_left) + " s left";
  if (waiting > 1) line += " (" + std::to_string(waiting - 1) + " more waiting)";
  if (mode == PromptMode::typing_secret)
    return line + "  PIN or master password (Enter sends, Esc goes back): ";
  return line + "  [a] approve with your PIN or master password  [r] refuse  [q] quit";
}

std::string settled_line(const SettledEvent& settled) {
  std::string what = "#" + std::to_string(settled.id) + " ";
  if (settled.end == "approved") return what + "approved: the command runs";
  if (settled.end == "refused") return what + "refused: command_denied, nothing ran";
  if (settled.end == "timed_out") return what + "timed out: command_denied, nothing ran";
  if (settled.end == "detached") return what + "no console was left: command_blocked, nothing ran";
  if (settled.end == "locked") return what + "the service was locked: app_locked, nothing ran";
  if (settled.end == "caller_gone") return what + "the caller went away: nothing ran";
  if (settled.end == "stopping") return what + "the service is stopping: nothing ran";
  return what + "ended: " + terminal_safe(settled.end);
}

std::string verdict_line(const VerdictEvent& verdict) {
  std::string what = "#" + std::to_string(verdict.id) + " ";
  std::string detail = verdict.message.empty() ? "" : " (" + terminal_safe(verdict.message) + ")";
  if (verdict.result == "wrong_secret")
    return what + "NOT approved: wrong secret" + detail + "; it is still waiting";
  if (verdict.result == "not_waiting") return what + "is no longer waiting" + detail;
  if (verdict.result == "approved") return what + "your approval was accepted";
  if (verdict.result == "refused") return what + "your refusal was accepted";
  return what + terminal_safe(verdict.result) + detail;
}

}  // namespace pendrel::desktop
