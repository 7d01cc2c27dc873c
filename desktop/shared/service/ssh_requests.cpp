#include "desktop/shared/service/ssh_requests.h"

#include "desktop/broker/ssh/remote_exec.h"
#include "desktop/broker/ssh/sftp_transfer.h"
#include "desktop/shared/service/ssh_host_copy.h"
#include "protocol/error_code.h"

namespace pendrel::desktop {
namespace {

// The vault was open when the request was admitted; it may have been locked since.
ErrorBody vault_closed_meanwhile() {
  return ErrorBody{std::string(info_for(ErrorCode::vault_locked).name),
                   "run pendrel-desktop unlock"};
}

}  // namespace

std::expected<ExecResponse, ErrorBody> exec_on_ssh_host(VaultKeeper& vault, WarmConnections& warm,
                                                        const std::string& host_id,
                                                        std::string_view command,
                                                        const CancelWatch& cancel) {
  const std::uint64_t generation = warm.generation();
  auto host = copy_ssh_host(vault, host_id, LoginFor::requests);
  if (!host) return std::unexpected(vault_closed_meanwhile());
  return ssh_exec(host->target, host->credentials(), host->keys, command, cancel,
                  ConnectionSource{&warm, host_id, generation, host->login});
}

std::expected<TransferResponse, ErrorBody> transfer_with_ssh_host(
    VaultKeeper& vault, WarmConnections& warm, const std::string& host_id, Direction direction,
    const std::string& local, const std::string& remote, const CancelWatch& cancel) {
  const std::uint64_t generation = warm.generation();
  auto host = copy_ssh_host(vault, host_id, LoginFor::requests);
  if (!host) return std::unexpected(vault_closed_meanwhile());
  const ConnectionSource source{&warm, host_id, generation, host->login};
  if (direction == Direction::upload)
    return ssh_upload(host->target, host->credentials(), host->keys, local, remote, cancel, source);
  return ssh_download(host->target, host->credentials(), host->keys, remote, local, cancel, source);
}

}  // namespace pendrel::desktop
