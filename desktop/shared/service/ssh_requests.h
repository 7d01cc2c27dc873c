// The work of exec, upload and download on an SSH host: what to connect to and log in with is
// copied out of the open vault, then the SSH library does the rest without the vault's lock.
#pragma once

#include <expected>
#include <string>
#include <string_view>

#include "desktop/broker/ssh/warm_connections.h"
#include "desktop/front/runner/cancel_watch.h"
#include "desktop/front/runner/local_transfer.h"
#include "desktop/shared/service/vault_keeper.h"
#include "protocol/messages.h"

namespace pendrel::desktop {

// Runs `command` on the vault's host `host_id`, over one of `warm`'s connections to it when
// there is one. Besides the SSH library's failures, a vault closed since the request was
// admitted answers vault_locked.
[[nodiscard]] std::expected<ExecResponse, ErrorBody> exec_on_ssh_host(VaultKeeper& vault,
                                                                      WarmConnections& warm,
                                                                      const std::string& host_id,
                                                                      std::string_view command,
                                                                      const CancelWatch& cancel);

// Copies one file to or from the vault's host `host_id`: `local` is absolute, `remote` as the
// request gave it (a relative one starts in the remote user's home).
[[nodiscard]] std::expected<TransferResponse, ErrorBody> transfer_with_ssh_host(
    VaultKeeper& vault, WarmConnections& warm, const std::string& host_id, Direction direction,
    const std::string& local, const std::string& remote, const CancelWatch& cancel);

}  // namespace pendrel::desktop
