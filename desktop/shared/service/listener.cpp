// The listening socket, and the probe that tells a stale socket from a live one.
#include "desktop/shared/service/listener.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cerrno>
#include <cstring>
#include <variant>

#include "protocol/channel.h"
#include "protocol/frame_reader.h"
#include "protocol/messages.h"
#include "protocol/os_error.h"
#include "protocol/request_decoding.h"

namespace pendrel::desktop {
namespace {

using namespace std::chrono_literals;

std::unexpected<ListenFailure> unavailable(std::string reason) {
  return std::unexpected(ListenFailure{ListenFailure::Kind::unavailable, std::move(reason)});
}

sockaddr_un address_of(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.data(), path.size());
  return address;
}

socklen_t address_length(const std::string& path) {
  return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
}

enum class Probe { nobody, service, stranger };

// Connects to the existing socket and, when somebody listens, says hello: a welcome (or any
// well-formed answer) within two seconds means a service of ours.
std::expected<Probe, int> probe_socket(const std::string& path) {
  UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!socket) return std::unexpected(errno);
  sockaddr_un address = address_of(path);
  if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), address_length(path)) !=
      0) {
    if (errno == ECONNREFUSED) return Probe::nobody;
    return std::unexpected(errno);
  }
  if (!write_frame(socket.get(), encode_hello(Hello{1, "pendrel-desktop", "en"}))) {
    return Probe::stranger;
  }
  auto frame = read_frame(socket.get(), max_answer_bytes,
                          FrameWait{std::chrono::steady_clock::now() + 2s, -1});
  if (!frame) return Probe::stranger;
  auto answer = decode_response(frame->view());
  return answer ? Probe::service : Probe::stranger;
}

}  // namespace

std::expected<Listener, ListenFailure> open_listener(const std::string& path) {
  if (path.size() >= sizeof(sockaddr_un::sun_path)) {
    return unavailable("the socket path " + path + " is " + std::to_string(path.size()) +
                       " bytes long; a Unix socket path must be shorter than " +
                       std::to_string(sizeof(sockaddr_un::sun_path)) + " bytes");
  }
  Listener listener;
  listener.path = path;
  struct stat status {};
  if (::lstat(path.c_str(), &status) == 0) {
    if (!S_ISSOCK(status.st_mode)) return unavailable(path + " exists and is not a socket");
    auto probe = probe_socket(path);
    if (!probe) return unavailable("cannot probe " + path + ": " + os_error_text(probe.error()));
    if (*probe == Probe::service) {
      return std::unexpected(ListenFailure{ListenFailure::Kind::another_service, {}});
    }
    if (*probe == Probe::stranger) {
      return unavailable(path + " is held by another process that is not this service");
    }
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
      return unavailable("cannot remove the stale socket " + path + ": " + os_error_text(errno));
    }
    listener.replaced_stale = true;
  }

  listener.socket = UniqueFd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!listener.socket) return unavailable("cannot create a socket: " + os_error_text(errno));
  sockaddr_un address = address_of(path);
  // The umask makes the file 0600 from its first moment; chmod then states it outright.
  mode_t previous = ::umask(0177);
  int bound = ::bind(listener.socket.get(), reinterpret_cast<const sockaddr*>(&address),
                     address_length(path));
  int bind_error = errno;
  ::umask(previous);
  if (bound != 0) return unavailable("cannot bind " + path + ": " + os_error_text(bind_error));
  if (::chmod(path.c_str(), 0600) != 0 || ::lstat(path.c_str(), &status) != 0) {
    int error = errno;
    ::unlink(path.c_str());
    return unavailable("cannot set the mode of " + path + ": " + os_error_text(error));
  }
  listener.inode = status.st_ino;
  if (::listen(listener.socket.get(), SOMAXCONN) != 0) {
    int error = errno;
    ::unlink(path.c_str());
    return unavailable("cannot listen on " + path + ": " + os_error_text(error));
  }
  return listener;
}

void remove_socket_file(const Listener& listener) {
  struct stat status {};
  if (::lstat(listener.path.c_str(), &status) == 0 && status.st_ino == listener.inode) {
    ::unlink(listener.path.c_str());
  }
}

}  // namespace pendrel::desktop
