// Opening the command-line socket run/cli.sock: a stale socket file is replaced, a live
// service there is recognised, and every other obstacle becomes the reason for the marker.
#pragma once

#include <sys/types.h>

#include <expected>
#include <string>

#include "protocol/unique_fd.h"

namespace pendrel::desktop {

struct ListenFailure {
  enum class Kind {
    another_service,  // a service answered the handshake on the socket
    unavailable,      // the socket cannot be opened; `reason` says why
  };
  Kind kind = Kind::unavailable;
  std::string reason;
};

struct Listener {
  UniqueFd socket;  // non-blocking, close-on-exec
  std::string path;
  ino_t inode = 0;  // of the socket file, so that only our own file is removed at the end
  bool replaced_stale = false;
};

// Binds and listens at `path` with mode 0600. An existing socket nobody listens on is removed
// first; one whose listener answers the handshake with a welcome is another_service; any other
// listener, a file that is not a socket, a path of 108 bytes or more and every bind failure are
// unavailable.
[[nodiscard]] std::expected<Listener, ListenFailure> open_listener(const std::string& path);

// Removes the socket file if it is still the one `listener` created.
void remove_socket_file(const Listener& listener);

}  // namespace pendrel::desktop
