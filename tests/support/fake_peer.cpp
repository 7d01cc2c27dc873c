#include "fake_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <stdexcept>

#include "protocol/unique_fd.h"

namespace pendrel::testing {

PeerScript answer_with(std::string answer) {
  return {PeerAction::read(), PeerAction::send(default_welcome), PeerAction::read(),
          PeerAction::send(std::move(answer))};
}

std::string length_prefix(std::uint32_t length) {
  std::string prefix(4, '\0');
  for (int i = 0; i < 4; ++i) {
    prefix[static_cast<std::size_t>(i)] = static_cast<char>((length >> (24 - 8 * i)) & 0xFFu);
  }
  return prefix;
}

namespace {

enum class Wake { ready, stopped };

// Waits until `fd` is readable or the stop pipe is written; a negative timeout waits forever.
Wake wait_readable(int fd, int stop_fd, int timeout_ms = -1) {
  pollfd fds[2] = {{fd, POLLIN, 0}, {stop_fd, POLLIN, 0}};
  nfds_t count = fd >= 0 ? 2 : 1;
  pollfd* first = fd >= 0 ? fds : fds + 1;
  while (true) {
    int ready = ::poll(first, count, timeout_ms);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return Wake::stopped;
    if (fds[1].revents != 0) return Wake::stopped;
    return Wake::ready;
  }
}

// Reads exactly `size` bytes; nullopt on end of file, error or stop.
std::optional<std::string> read_exactly(int fd, int stop_fd, std::size_t size) {
  std::string data(size, '\0');
  std::size_t done = 0;
  while (done < size) {
    if (wait_readable(fd, stop_fd) == Wake::stopped) return std::nullopt;
    ssize_t got = ::recv(fd, data.data() + done, size - done, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return std::nullopt;
    done += static_cast<std::size_t>(got);
  }
  return data;
}

// Sends everything it can; a vanished client simply ends the send.
void send_all(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t sent = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return;
    data.remove_prefix(static_cast<std::size_t>(sent));
  }
}

}  // namespace

FakePeer::FakePeer(std::string data_dir, std::vector<PeerScript> scripts)
    : socket_path_(data_dir + "/run/cli.sock"), scripts_(std::move(scripts)) {
  std::filesystem::create_directories(data_dir + "/run");
  ::unlink(socket_path_.c_str());

  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socket_path_.size() >= sizeof address.sun_path) {
    throw std::runtime_error("fake peer: socket path too long: " + socket_path_);
  }
  std::memcpy(address.sun_path, socket_path_.c_str(), socket_path_.size() + 1);

  listen_fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0 ||
      ::bind(listen_fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listen_fd_, 16) != 0 || ::pipe2(stop_pipe_, O_CLOEXEC) != 0) {
    std::string reason = std::strerror(errno);
    if (listen_fd_ >= 0) ::close(listen_fd_);
    throw std::runtime_error("fake peer: cannot listen on " + socket_path_ + ": " + reason);
  }
  thread_ = std::thread([this] { serve(); });
}

FakePeer::~FakePeer() {
  char byte = 'x';
  while (::write(stop_pipe_[1], &byte, 1) < 0 && errno == EINTR) {
  }
  thread_.join();
  ::close(listen_fd_);
  ::close(stop_pipe_[0]);
  ::close(stop_pipe_[1]);
  ::unlink(socket_path_.c_str());
}

std::vector<std::string> FakePeer::received() const {
  std::lock_guard lock(mutex_);
  return received_;
}

int FakePeer::connections() const {
  std::lock_guard lock(mutex_);
  return connections_;
}

bool FakePeer::wait_for_frames(std::size_t count, std::chrono::milliseconds timeout) const {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    {
      std::lock_guard lock(mutex_);
      if (received_.size() >= count) return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void FakePeer::serve() {
  const int stop_fd = stop_pipe_[0];
  std::size_t next_script = 0;
  while (wait_readable(listen_fd_, stop_fd) == Wake::ready) {
    int accepted = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (accepted < 0) continue;
    UniqueFd connection(accepted);
    {
      std::lock_guard lock(mutex_);
      ++connections_;
    }
    const PeerScript empty;
    const PeerScript& script = scripts_.empty() ? empty : scripts_[next_script];
    if (next_script + 1 < scripts_.size()) ++next_script;

    for (const PeerAction& action : script) {
      bool keep_going = true;
      switch (action.kind) {
        case PeerAction::Kind::read_frame: {
          auto prefix = read_exactly(connection.get(), stop_fd, 4);
          if (!prefix) {
            keep_going = false;
            break;
          }
          std::uint32_t length = 0;
          for (char byte : *prefix)
            length = (length << 8) | static_cast<unsigned char>(byte);
          auto payload = read_exactly(connection.get(), stop_fd, length);
          if (!payload) {
            keep_going = false;
            break;
          }
          std::lock_guard lock(mutex_);
          received_.push_back(std::move(*payload));
          break;
        }
        case PeerAction::Kind::send_frame:
          send_all(connection.get(),
                   length_prefix(static_cast<std::uint32_t>(action.bytes.size())) + action.bytes);
          break;
        case PeerAction::Kind::send_raw:
          send_all(connection.get(), action.bytes);
          break;
        case PeerAction::Kind::close:
          keep_going = false;
          break;
        case PeerAction::Kind::wait:
          if (wait_readable(-1, stop_fd, static_cast<int>(action.delay.count())) == Wake::stopped) {
            return;
          }
          break;
        case PeerAction::Kind::read_to_end: {
          char buffer[65536];
          while (wait_readable(connection.get(), stop_fd) == Wake::ready) {
            ssize_t got = ::recv(connection.get(), buffer, sizeof buffer, 0);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
          }
          break;
        }
      }
      if (!keep_going) break;
    }
  }
}

}  // namespace pendrel::testing
