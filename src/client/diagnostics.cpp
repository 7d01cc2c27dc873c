#include "client/diagnostics.h"

#include <string>

#include "protocol/fd_io.h"
#include "protocol/utf8.h"

namespace pendrel {
namespace {

constexpr std::string_view prefix = "[pendrel] ";

std::string ms_text(std::uint64_t ms) {
  return std::to_string(ms);
}

// A text inserted into a line comes from the data directory, the environment or the desktop
// application; a line feed in it would start a line of its own that could pass for ours, and
// other control characters would reach the terminal raw. Controls (C0, DEL and C1) are
// written escaped so that every diagnostic is exactly one line of plain text.
std::string escape_controls(std::string_view text) {
  constexpr std::string_view hex = "0123456789abcdef";
  std::string escaped;
  escaped.reserve(text.size());
  for (std::size_t at = 0; at < text.size(); ++at) {
    auto code = static_cast<unsigned char>(text[at]);
    bool control = code < 0x20 || code == 0x7F;
    // A C1 control arrives as the two bytes C2 80..C2 9F of valid UTF-8.
    if (code == 0xC2 && at + 1 < text.size()) {
      auto next = static_cast<unsigned char>(text[at + 1]);
      if (next <= 0x9F) {
        code = next;
        control = true;
        ++at;
      }
    }
    if (!control) {
      escaped += text[at];
      continue;
    }
    switch (code) {
      case '\n':
        escaped += "\\n";
        break;
      case '\r':
        escaped += "\\r";
        break;
      case '\t':
        escaped += "\\t";
        break;
      case '\b':
        escaped += "\\b";
        break;
      case '\f':
        escaped += "\\f";
        break;
      default:
        escaped += "\\u00";
        escaped += hex[code >> 4];
        escaped += hex[code & 0xF];
    }
  }
  return escaped;
}

}  // namespace

std::uint64_t elapsed_ms(std::chrono::steady_clock::time_point start,
                         std::chrono::steady_clock::time_point end) {
  if (end <= start) return 0;
  auto whole = std::chrono::duration_cast<std::chrono::milliseconds>(end - start);
  return static_cast<std::uint64_t>(whole.count());
}

Diagnostics::Diagnostics(const Environment& environment, int fd)
    : on_(environment.get_non_empty("PENDREL_LOG").has_value()), fd_(fd) {}

void Diagnostics::write(std::string_view line) const {
  if (!on_) return;
  std::string text(prefix);
  // Invalid UTF-8 is shown as U+FFFD first, so that the escaping sees whole characters.
  text += escape_controls(to_display_text(line));
  text += '\n';
  (void)write_all(fd_, text);
}

void Diagnostics::data_dir(std::string_view raw_path) const {
  if (on_) write("数据目录 " + std::string(raw_path));
}

void Diagnostics::connected_to_running() const {
  write("已连上运行中的 Pendrel");
}

void Diagnostics::service_down(std::string_view reason) const {
  if (on_) write("Pendrel 在运行，但命令行服务没有启动：" + std::string(reason));
}

void Diagnostics::auto_start_forbidden() const {
  write("Pendrel 没有运行，设置中不允许自动启动");
}

void Diagnostics::starting_headless() const {
  write("Pendrel 没有运行，以无窗口模式拉起");
}

void Diagnostics::launching(std::string_view executable) const {
  if (on_) write("启动 " + std::string(executable) + " --headless");
}

void Diagnostics::connected_to_started(std::uint64_t ms) const {
  if (on_) write("已连上拉起的 Pendrel（" + ms_text(ms) + " ms）");
}

void Diagnostics::sending(std::string_view label) const {
  if (on_) write("发送请求：" + std::string(label));
}

void Diagnostics::request_done(std::string_view label, std::uint64_t ms) const {
  if (on_) write("请求 " + std::string(label) + " 完成（" + ms_text(ms) + " ms）");
}

void Diagnostics::request_failed(std::string_view label, std::string_view code,
                                 std::uint64_t ms) const {
  if (on_) {
    write("请求 " + std::string(label) + " 失败：" + std::string(code) + "（" + ms_text(ms) +
          " ms）");
  }
}

void Diagnostics::request_interrupted(std::string_view label, std::string_view message,
                                      std::uint64_t ms) const {
  if (on_) {
    write("请求 " + std::string(label) + " 中断：" + std::string(message) + "（" + ms_text(ms) +
          " ms）");
  }
}

void Diagnostics::connect_failed(std::string_view message, std::string_view code) const {
  if (on_) write("连接 Pendrel 失败：" + std::string(message) + "（" + std::string(code) + "）");
}

}  // namespace pendrel
