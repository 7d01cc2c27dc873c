// Owners for libssh's handles, so that every early return frees what was made.
#pragma once

#include <libssh/libssh.h>
#include <libssh/sftp.h>
#include <unistd.h>

#include <memory>
#include <type_traits>

namespace pendrel::desktop {

struct LibsshFree {
  void operator()(ssh_key key) const { ssh_key_free(key); }
  // libssh 0.10 never closes a socket handed over with SSH_OPTIONS_FD: ssh_disconnect sends
  // the goodbye and forgets the descriptor, so the connection (and the server's session)
  // would live on until the service exits. The descriptor is closed here unless libssh
  // already closed it after an error (then it reports none).
  void operator()(ssh_session session) const {
    socket_t socket_fd = ssh_get_fd(session);
    ssh_disconnect(session);
    if (socket_fd != SSH_INVALID_SOCKET) ::close(socket_fd);
    ssh_free(session);
  }
  void operator()(ssh_channel channel) const { ssh_channel_free(channel); }
  void operator()(ssh_event event) const { ssh_event_free(event); }
  void operator()(sftp_session sftp) const { sftp_free(sftp); }
  void operator()(sftp_file file) const { sftp_close(file); }
  void operator()(sftp_attributes attributes) const { sftp_attributes_free(attributes); }
};

template <typename Handle>
using Owned = std::unique_ptr<std::remove_pointer_t<Handle>, LibsshFree>;

using OwnedKey = Owned<ssh_key>;
using OwnedSession = Owned<ssh_session>;
using OwnedChannel = Owned<ssh_channel>;
using OwnedEvent = Owned<ssh_event>;
using OwnedSftp = Owned<sftp_session>;
using OwnedSftpFile = Owned<sftp_file>;
using OwnedAttributes = Owned<sftp_attributes>;

}  // namespace pendrel::desktop
