// An SSH host's file transfer for a person's front, inside the broker: the front opens the
// local file with the person's permissions and hands it over, so that the broker never opens
// a person's file by name and a file the person may not read stays unread.
#pragma once

#include <expected>
#include <string>

#include "desktop/broker/ssh/warm_connections.h"
#include "desktop/front/runner/cancel_watch.h"
#include "desktop/front/runner/local_transfer.h"
#include "desktop/shared/service/vault_keeper.h"
#include "protocol/messages.h"

namespace pendrel::desktop {

// Copies one file to or from the vault's host `host_id` through the front on `front_socket`
// (desktop/link/front_work.h), over one of `warm`'s connections when there is one. Fails as
// transfer_with_ssh_host does, and with the front's own failure to open or install the local
// file (path_not_found, permission_denied, …).
[[nodiscard]] std::expected<TransferResponse, ErrorBody> transfer_for_front(
    VaultKeeper& vault, WarmConnections& warm, const std::string& host_id, Direction direction,
    const std::string& remote, int front_socket, int abandon_fd, const CancelWatch& cancel);

}  // namespace pendrel::desktop
