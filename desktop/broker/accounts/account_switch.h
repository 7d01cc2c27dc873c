// Becoming the broker's account: started as root, the broker creates its directories for that
// account and then gives up root for good, before it reads anything.
#pragma once

#include <sys/types.h>

#include <expected>
#include <string>

#include "desktop/broker/accounts/broker_options.h"

namespace pendrel::desktop {

// As root: looks `options.account` up, creates the socket's directory (0755) and the state
// directory (0700) owned by it, then drops every group and changes to its gid and uid, checking
// that root cannot be regained. Not as root: the broker runs as whoever started it, and the
// directories are created (or checked) the same way. The error is the reason.
[[nodiscard]] std::expected<void, std::string> become_broker_account(const BrokerOptions& options);

// Creates `path` with `mode` when missing and refuses a symbolic link, a directory of another
// owner, or one that others may write. The error is the reason.
[[nodiscard]] std::expected<void, std::string> prepare_owned_directory(const std::string& path,
                                                                       mode_t mode);

}  // namespace pendrel::desktop
