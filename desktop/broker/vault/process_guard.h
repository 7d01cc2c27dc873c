// Protection of the service's own memory, and the environments in which it will not unlock.
#pragma once

#include <expected>
#include <optional>
#include <string>

#include "protocol/environment.h"

namespace pendrel::desktop {

// Makes the process non-dumpable (another process of the same user can then neither ptrace
// it nor read /proc/PID/mem, environ or a core file) and sets the core-file limit to 0. Call it
// at the top of main, before any secret exists, and again after any change of credentials
// (setuid and friends reset the flag). Fails with the step and the operating-system error.
[[nodiscard]] std::expected<void, std::string> harden_process();

// Why the vault must stay locked in this environment, or nothing when it may unlock: any of
// LD_PRELOAD, LD_AUDIT or LD_LIBRARY_PATH set (even empty) can load code of the caller's
// choosing into the process that holds the secrets.
[[nodiscard]] std::optional<std::string> unlock_refusal_reason(const Environment& environment);

}  // namespace pendrel::desktop
