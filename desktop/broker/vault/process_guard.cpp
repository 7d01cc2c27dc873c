#include "desktop/broker/vault/process_guard.h"

#include <sys/prctl.h>
#include <sys/resource.h>

#include <array>
#include <cerrno>
#include <string_view>

#include "protocol/os_error.h"

namespace pendrel::desktop {

std::expected<void, std::string> harden_process() {
  if (::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0) {
    return std::unexpected("prctl(PR_SET_DUMPABLE, 0): " + os_error_text(errno));
  }
  const rlimit no_core{0, 0};
  if (::setrlimit(RLIMIT_CORE, &no_core) != 0) {
    return std::unexpected("setrlimit(RLIMIT_CORE, 0): " + os_error_text(errno));
  }
  return {};
}

std::optional<std::string> unlock_refusal_reason(const Environment& environment) {
  constexpr std::array<std::string_view, 3> loader_variables = {"LD_PRELOAD", "LD_AUDIT",
                                                                "LD_LIBRARY_PATH"};
  for (std::string_view name : loader_variables) {
    if (environment.get(name)) {
      return std::string(name) +
             " is set: a library it names could read the secrets, so the vault stays locked; "
             "start pendrel-desktop without it";
    }
  }
  return std::nullopt;
}

}  // namespace pendrel::desktop
