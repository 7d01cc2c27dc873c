// Storing a host key the person trusted while a terminal opened, as `hostkey trust` stores
// one: in the vault, with the master password, one key per type, and the service told.
#pragma once

#include <expected>
#include <string>

#include "desktop/broker/ssh/ssh_target.h"
#include "desktop/broker/vault/secret_bytes.h"
#include "desktop/shared/service/service_context.h"

namespace pendrel::desktop {

// Fails with the reason (a wrong master password, a vault that cannot be saved).
[[nodiscard]] std::expected<void, std::string> store_trusted_host_key(ServiceContext& context,
                                                                      const std::string& host_id,
                                                                      const SecretString& master,
                                                                      const HostKeyFacts& key);

}  // namespace pendrel::desktop
