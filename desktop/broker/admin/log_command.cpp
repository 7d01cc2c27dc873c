#include "desktop/broker/admin/log_command.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "protocol/decimal.h"
#include "protocol/fd_io.h"
#include "protocol/lexical_path.h"
#include "protocol/unique_fd.h"

namespace pendrel::desktop {
namespace {

constexpr std::size_t default_lines = 10;
constexpr std::chrono::milliseconds follow_poll{200};

// The last `count` lines of `text`, which ends with a line feed.
std::string_view last_lines(std::string_view text, std::size_t count) {
  if (count == 0 || text.empty()) return {};
  std::size_t start = text.size() - 1;
  std::size_t found = 0;
  while (start > 0) {
    if (text[start - 1] == '\n' && ++found == count) break;
    --start;
  }
  return text.substr(start);
}

// False once standard output is gone, which ends following.
bool write_out(std::string_view text) {
  return static_cast<bool>(write_all(STDOUT_FILENO, text));
}

struct OpenLog {
  UniqueFd fd;
  ino_t inode = 0;
};

OpenLog open_log(const std::string& path) {
  OpenLog log{UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)), 0};
  struct stat info {};
  if (log.fd && ::fstat(log.fd.get(), &info) == 0) log.inode = info.st_ino;
  return log;
}

// Everything from the descriptor's position to the current end.
std::string read_rest(int fd) {
  std::string text;
  char buffer[65536];
  while (true) {
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return text;
    text.append(buffer, static_cast<std::size_t>(got));
  }
}

// `pending` is a line still being written.
void follow(const std::string& path, OpenLog log, std::string pending) {
  while (true) {
    if (log.fd) {
      pending += read_rest(log.fd.get());
      auto end = pending.rfind('\n');
      if (end != std::string::npos) {
        if (!write_out(std::string_view(pending).substr(0, end + 1))) return;
        pending.erase(0, end + 1);
      }
    }
    std::this_thread::sleep_for(follow_poll);
    // Rotation renames the file away and starts a new one: read the old one to its end
    // (above), then switch.
    struct stat info {};
    bool replaced = ::stat(path.c_str(), &info) == 0 && (!log.fd || info.st_ino != log.inode);
    if (replaced) {
      if (log.fd) pending += read_rest(log.fd.get());
      log = open_log(path);
    }
  }
}

}  // namespace

std::expected<void, AdminFailure> show_log(const AdminContext& context, Arguments& args) {
  std::size_t count = default_lines;
  bool following = false;
  while (!args.done()) {
    if (args.flag("-f") || args.flag("--follow")) {
      following = true;
      continue;
    }
    auto lines = args.value_of("-n");
    if (!lines) return std::unexpected(lines.error());
    if (!*lines) return expect_end(args);
    auto parsed = parse_decimal_u32(**lines);
    if (!parsed || (**lines).starts_with('+')) {
      return std::unexpected(bad_input("-n takes a number of lines"));
    }
    count = *parsed;
  }
  std::string path = join_path(context.data_dir, "logs/audit.jsonl");
  OpenLog log = open_log(path);
  std::string pending;
  if (log.fd) {
    std::string text = read_rest(log.fd.get());
    // Only whole lines: a line being written now is printed once it is complete.
    std::size_t whole = text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1;
    (void)write_out(last_lines(std::string_view(text).substr(0, whole), count));
    pending = text.substr(whole);
  }
  if (following) follow(path, std::move(log), std::move(pending));
  return {};
}

}  // namespace pendrel::desktop
