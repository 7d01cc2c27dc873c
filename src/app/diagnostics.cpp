#include "app/diagnostics.h"

#include <string>

#include "protocol/fd_io.h"
#include "protocol/utf8.h"

namespace pendrel {
namespace {

constexpr std::string_view prefix = "[pendrel] ";

std::string ms_text(std::uint64_t ms) {
  return std::to_string(ms);
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
  text += line;
  text += '\n';
  (void)write_all(fd_, text);
}

void Diagnostics::data_dir(std::string_view raw_path) const {
  if (on_) write("数据目录 " + to_display_text(raw_path));
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
  if (on_) write("启动 " + to_display_text(executable) + " --headless");
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
