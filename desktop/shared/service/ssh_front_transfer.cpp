#include "desktop/shared/service/ssh_front_transfer.h"

#include "desktop/broker/ssh/sftp_transfer.h"
#include "desktop/shared/link/front_work.h"
#include "desktop/shared/service/ssh_host_copy.h"
#include "protocol/error_code.h"

namespace pendrel::desktop {

std::expected<TransferResponse, ErrorBody> transfer_for_front(
    VaultKeeper& vault, WarmConnections& warm, const std::string& host_id, Direction direction,
    const std::string& remote, int front_socket, int abandon_fd, const CancelWatch& cancel) {
  auto file = ask_front_for_file(front_socket, abandon_fd);
  if (!file) return std::unexpected(file.error());
  const std::uint64_t generation = warm.generation();
  auto host = copy_ssh_host(vault, host_id, LoginFor::requests);
  if (!host)
    return std::unexpected(ErrorBody{std::string(info_for(ErrorCode::vault_locked).name),
                                     "run pendrel-desktop unlock"});
  const ConnectionSource source{&warm, host_id, generation, host->login};
  if (direction == Direction::upload)
    return ssh_upload_descriptor(host->target, host->credentials(), host->keys, std::move(file->fd),
                                 file->local, remote, cancel, source);
  auto downloaded = ssh_download_descriptor(host->target, host->credentials(), host->keys, remote,
                                            file->fd.get(), file->local, cancel, source);
  if (!downloaded) return std::unexpected(downloaded.error());
  if (auto installed = ask_front_to_install(front_socket, downloaded->mode, abandon_fd); !installed)
    return std::unexpected(installed.error());
  return std::move(downloaded->response);
}

}  // namespace pendrel::desktop
