#include "desktop/shared/terminal/terminal_frames.h"

#include <charconv>

namespace pendrel::desktop {
namespace {

void put_u32(std::string& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8)
    out.push_back(static_cast<char>((value >> shift) & 0xff));
}

std::uint32_t get_u32(std::string_view bytes) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i)
    value = (value << 8) | static_cast<unsigned char>(bytes[static_cast<std::size_t>(i)]);
  return value;
}

bool known(char kind) {
  switch (static_cast<TerminalFrameKind>(kind)) {
    case TerminalFrameKind::data:
    case TerminalFrameKind::window:
    case TerminalFrameKind::detach:
    case TerminalFrameKind::taken_over:
    case TerminalFrameKind::ended:
      return true;
  }
  return false;
}

}  // namespace

std::string terminal_frame(TerminalFrameKind kind, std::string_view body) {
  std::string frame;
  frame.reserve(5 + body.size());
  put_u32(frame, static_cast<std::uint32_t>(body.size() + 1));
  frame.push_back(static_cast<char>(kind));
  frame.append(body);
  return frame;
}

std::string window_frame(WindowSize size) {
  std::string body;
  put_u32(body, (static_cast<std::uint32_t>(size.rows) << 16) | size.columns);
  return terminal_frame(TerminalFrameKind::window, body);
}

// The body: the exit status in decimal ("-" for none), a line feed, then the reason.
std::string ended_frame(const ShellEnding& ending) {
  std::string body = ending.exit_status ? std::to_string(*ending.exit_status) : "-";
  body += '\n';
  body += ending.reason.substr(0, 1024);
  return terminal_frame(TerminalFrameKind::ended, body);
}

std::optional<WindowSize> window_of(std::string_view body) {
  if (body.size() != 4) return std::nullopt;
  std::uint32_t packed = get_u32(body);
  WindowSize size{static_cast<std::uint16_t>(packed >> 16),
                  static_cast<std::uint16_t>(packed & 0xffff)};
  if (size.rows == 0 || size.columns == 0) return std::nullopt;
  return size;
}

ShellEnding ending_of(std::string_view body) {
  ShellEnding ending;
  auto line_end = body.find('\n');
  std::string_view status = body.substr(0, line_end);
  int value = 0;
  auto [last, error] = std::from_chars(status.data(), status.data() + status.size(), value);
  if (error == std::errc() && last == status.data() + status.size()) ending.exit_status = value;
  if (line_end != std::string_view::npos) ending.reason = body.substr(line_end + 1);
  return ending;
}

std::optional<TerminalFrame> TerminalFrameReader::next() {
  if (broken_) return std::nullopt;
  std::string_view rest = std::string_view(pending_).substr(start_);
  if (rest.size() < 4) return std::nullopt;
  std::uint32_t length = get_u32(rest);
  if (length == 0 || length > max_terminal_frame_body + 1 ||
      (rest.size() >= 5 && !known(rest[4]))) {
    broken_ = true;
    return std::nullopt;
  }
  if (rest.size() < 4 + static_cast<std::size_t>(length)) return std::nullopt;
  TerminalFrame frame{static_cast<TerminalFrameKind>(rest[4]),
                      std::string(rest.substr(5, length - 1))};
  start_ += 4 + length;
  // Keep the buffer from growing with what was read already.
  if (start_ > 64 * 1024 || start_ == pending_.size()) {
    pending_.erase(0, start_);
    start_ = 0;
  }
  return frame;
}

}  // namespace pendrel::desktop
