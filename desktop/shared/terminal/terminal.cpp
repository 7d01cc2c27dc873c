#include "desktop/shared/terminal/terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "desktop/shared/terminal/terminal_frames.h"

namespace pendrel::desktop {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::size_t read_chunk = max_terminal_frame_body;
// A shell that does not end after its hang-up is given up on: the terminal still closes.
constexpr auto hang_up_grace = 5s;
// The last frames to a client whose shell ended: it may be slow, not forever.
constexpr int farewell_wait_ms = 2000;

std::chrono::milliseconds since(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

void append_data_frames(std::string& out, std::string_view bytes) {
  while (!bytes.empty()) {
    std::size_t taken = std::min(bytes.size(), max_terminal_frame_body);
    out += terminal_frame(TerminalFrameKind::data, bytes.substr(0, taken));
    bytes.remove_prefix(taken);
  }
}

// Sends what it can now; false when the client is gone.
bool send_some(int socket, std::string& out) {
  while (!out.empty()) {
    ssize_t sent = ::send(socket, out.data(), out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent > 0) {
      out.erase(0, static_cast<std::size_t>(sent));
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    return sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
  }
  return true;
}

void send_within(int socket, std::string out, int wait_ms) {
  auto deadline = Clock::now() + std::chrono::milliseconds(wait_ms);
  while (!out.empty() && Clock::now() < deadline) {
    if (!send_some(socket, out)) return;
    if (out.empty()) return;
    pollfd entry{socket, POLLOUT, 0};
    ::poll(&entry, 1, 100);
  }
}

}  // namespace

struct Terminal::Pending {
  struct Attach {
    UniqueFd client;
    WindowSize size;
    pid_t pid = 0;
  };
  std::optional<Attach> attach;
  std::string input;
  std::optional<std::string> hang_up;
};

Terminal::Terminal(TerminalInfo info, std::unique_ptr<TerminalBackend> backend, WindowSize size,
                   TerminalEvents events)
    : info_(std::move(info)),
      backend_(std::move(backend)),
      size_(size),
      events_(std::move(events)),
      wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      pending_(std::make_unique<Pending>()),
      last_output_(Clock::now()) {
  thread_ = std::thread([this] { run(); });
}

Terminal::~Terminal() {
  hang_up("the service stopped");
  if (thread_.joinable()) thread_.join();
}

TerminalInfo Terminal::info() const {
  std::lock_guard lock(mutex_);
  return info_;
}

void Terminal::attach(UniqueFd client, WindowSize size, pid_t client_pid) {
  {
    std::lock_guard lock(mutex_);
    if (!ended_) {
      pending_->attach = Pending::Attach{std::move(client), size, client_pid};
      client.reset();
    }
  }
  // The shell ended meanwhile: the client learns how, instead of waiting for nothing.
  if (client) send_within(client.get(), ended_frame(final_ending_), farewell_wait_ms);
  std::uint64_t one = 1;
  (void)::write(wake_.get(), &one, sizeof one);
}

void Terminal::write_input(std::string bytes) {
  {
    std::lock_guard lock(mutex_);
    pending_->input += bytes;
  }
  std::uint64_t one = 1;
  (void)::write(wake_.get(), &one, sizeof one);
}

void Terminal::hang_up(std::string reason) {
  {
    std::lock_guard lock(mutex_);
    if (!pending_->hang_up) pending_->hang_up = std::move(reason);
  }
  std::uint64_t one = 1;
  (void)::write(wake_.get(), &one, sizeof one);
}

ScannerState Terminal::scanner_state() const {
  std::lock_guard lock(mutex_);
  return scanner_.state();
}

bool Terminal::person_mid_line() const {
  std::lock_guard lock(mutex_);
  return mid_line_;
}

std::chrono::steady_clock::time_point Terminal::last_output() const {
  std::lock_guard lock(mutex_);
  return last_output_;
}

std::uint64_t Terminal::watch_output(OutputWatcher watcher) {
  std::lock_guard lock(mutex_);
  watchers_.emplace(next_watcher_, std::move(watcher));
  return next_watcher_++;
}

void Terminal::stop_watching(std::uint64_t id) {
  std::lock_guard lock(mutex_);
  watchers_.erase(id);
}

void Terminal::run() {
  const auto opened = Clock::now();
  const int shell = backend_->descriptor();
  const int ended_fd = backend_->ended_descriptor();
  OutputRing ring;
  UniqueFd client;
  pid_t client_pid = 0;
  auto attached_at = Clock::now();
  TerminalFrameReader reader;
  std::string out;    // frames waiting for the client
  std::string input;  // bytes waiting for the shell
  std::optional<std::string> hang_up_reason;
  std::optional<Clock::time_point> hung_up_at;
  std::vector<char> buffer(read_chunk);

  auto tell = [&](TerminalEventKind kind, std::chrono::milliseconds duration) {
    if (!events_) return;
    TerminalEvent event{kind, info(), client_pid, duration, std::nullopt};
    events_(event);
  };
  auto let_go = [&](TerminalEventKind kind) {
    if (!client) return;
    {
      std::lock_guard lock(mutex_);
      info_.attached = false;
    }
    tell(kind, since(attached_at));
    client.reset();
    out.clear();
    reader = TerminalFrameReader();
  };
  auto redraw = [&](WindowSize size) {
    // A remote pty signals only a real change of size: one row less, then the size.
    if (!backend_->shell_in_foreground().has_value() && size.rows > 1)
      backend_->resize(WindowSize{static_cast<std::uint16_t>(size.rows - 1), size.columns});
    backend_->resize(size);
  };
  auto take_output = [&](std::string_view chunk) {
    std::vector<OutputWatcher> watchers;
    {
      std::lock_guard lock(mutex_);
      scanner_.scan(chunk);
      last_output_ = Clock::now();
      for (const auto& [id, watcher] : watchers_)
        watchers.push_back(watcher);
    }
    for (const auto& watcher : watchers)
      watcher(chunk);
    ring.append(chunk);
    if (client) append_data_frames(out, chunk);
  };
  // Reads what the shell has written; false once it has ended.
  auto read_shell = [&]() {
    for (;;) {
      ssize_t got = ::read(shell, buffer.data(), buffer.size());
      if (got > 0) {
        take_output(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
        return true;
      }
      if (got < 0 && errno == EINTR) continue;
      return got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
  };
  auto person_typed = [&](std::string_view bytes) {
    std::lock_guard lock(mutex_);
    for (char byte : bytes)
      mid_line_ = byte != '\r' && byte != '\n';
  };

  tell(TerminalEventKind::opened, std::chrono::milliseconds(0));
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      auto attach = std::move(pending_->attach);
      pending_->attach.reset();
      input += pending_->input;
      pending_->input.clear();
      if (pending_->hang_up && !hang_up_reason) hang_up_reason = pending_->hang_up;
      lock.unlock();
      if (attach) {
        if (client) {
          std::string notice = out + terminal_frame(TerminalFrameKind::taken_over);
          send_within(client.get(), std::move(notice), 200);
          let_go(TerminalEventKind::taken_over);
        }
        client = std::move(attach->client);
        client_pid = attach->pid;
        attached_at = Clock::now();
        int flags = ::fcntl(client.get(), F_GETFL);
        ::fcntl(client.get(), F_SETFL, flags | O_NONBLOCK);
        {
          std::lock_guard info_lock(mutex_);
          info_.attached = true;
          size_ = attach->size;
        }
        // Inside the alternate screen the kept bytes would draw over a program that redraws
        // anyway.
        if (!scanner_state().alternate_screen) append_data_frames(out, ring.contents());
        redraw(attach->size);
        tell(TerminalEventKind::attached, std::chrono::milliseconds(0));
      }
    }
    if (hang_up_reason && !hung_up_at) {
      backend_->hang_up();
      hung_up_at = Clock::now();
    }
    bool shell_gone = hung_up_at && Clock::now() - *hung_up_at > hang_up_grace;
    if (!shell_gone) {
      pollfd fds[4] = {
          {wake_.get(), POLLIN, 0},
          {shell,
           static_cast<short>((out.size() < max_queued_for_client ? POLLIN : 0) |
                              (input.empty() ? 0 : POLLOUT)),
           0},
          {client ? client.get() : -1,
           static_cast<short>((input.size() < max_queued_for_client ? POLLIN : 0) |
                              (out.empty() ? 0 : POLLOUT)),
           0},
          {ended_fd, POLLIN, 0},
      };
      if (::poll(fds, 4, hung_up_at ? 500 : -1) < 0 && errno != EINTR) shell_gone = true;
      if (fds[0].revents != 0) {
        std::uint64_t count = 0;
        (void)::read(wake_.get(), &count, sizeof count);
      }
      if ((fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0 && !read_shell()) shell_gone = true;
      if ((fds[1].revents & POLLOUT) != 0 && !input.empty()) {
        ssize_t written = ::write(shell, input.data(), input.size());
        if (written > 0) input.erase(0, static_cast<std::size_t>(written));
      }
      if (client && (fds[2].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
        ssize_t got = ::recv(client.get(), buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
          let_go(TerminalEventKind::detached);
        } else if (got > 0) {
          reader.feed(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
          bool leaving = false;
          while (auto frame = reader.next()) {
            if (frame->kind == TerminalFrameKind::data) {
              person_typed(frame->body);
              input += frame->body;
            } else if (frame->kind == TerminalFrameKind::window) {
              if (auto size = window_of(frame->body)) {
                backend_->resize(*size);
                std::lock_guard lock(mutex_);
                size_ = *size;
              }
            } else if (frame->kind == TerminalFrameKind::detach) {
              leaving = true;
              break;
            }
          }
          if (leaving || reader.broken()) let_go(TerminalEventKind::detached);
        }
      }
      if (client && (fds[2].revents & POLLOUT) != 0 && !send_some(client.get(), out))
        let_go(TerminalEventKind::detached);
      if (fds[3].revents != 0) shell_gone = true;
    }
    if (!shell_gone) continue;
    // What the shell wrote before it ended still reaches the client.
    for (int drained = 0; drained < 64 && read_shell(); ++drained) {
      pollfd entry{shell, POLLIN, 0};
      if (::poll(&entry, 1, 0) <= 0) break;
    }
    ShellEnding ending = backend_->ending();
    // Ended by the service (it stops, or the person closed it): that is the reason, whatever
    // the shell made of its hang-up.
    if (hang_up_reason) ending.reason = *hang_up_reason;
    if (client) {
      send_within(client.get(), out + ended_frame(ending), farewell_wait_ms);
      let_go(TerminalEventKind::detached);
    }
    // Told before the terminal counts as ended: a registry forgets an ended terminal, and
    // must not wait on the audit while it holds its lock.
    if (events_) {
      TerminalEvent event{TerminalEventKind::closed, info(), 0, since(opened), ending};
      events_(event);
    }
    std::optional<Pending::Attach> late;
    {
      std::lock_guard lock(mutex_);
      final_ending_ = ending;
      ended_ = true;
      late = std::move(pending_->attach);
      pending_->attach.reset();
    }
    if (late) send_within(late->client.get(), ended_frame(ending), farewell_wait_ms);
    return;
  }
}

}  // namespace pendrel::desktop
