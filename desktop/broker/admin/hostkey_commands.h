// `hostkey trust|reject|forget|list`: the person's decisions about a host's SSH server key,
// kept in the vault under the host's address and port.
#pragma once

#include <expected>

#include "desktop/broker/admin/admin_context.h"
#include "desktop/broker/admin/admin_failure.h"
#include "desktop/broker/admin/arguments.h"

namespace pendrel::desktop {

// `args` starts after "hostkey". Every verb asks the master password, since the keys live in
// the vault. trust connects (as far as the key exchange) to the address and port the vault
// holds for the host and accepts the key it presents: only the one --fingerprint names, or
// after a yes on the terminal. reject records a fingerprint as refused (the server's current
// one unless --fingerprint names it) and no longer accepts it; forget drops what is known
// about the server; list shows it.
[[nodiscard]] std::expected<void, AdminFailure> run_hostkey_command(const AdminContext& context,
                                                                    Arguments& args);

}  // namespace pendrel::desktop
