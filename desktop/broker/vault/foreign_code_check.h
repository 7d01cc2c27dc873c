// Whether code other than the program's own may be running in this process: what makes the
// process that holds the secrets refuse to hold them.
#pragma once

#include <optional>
#include <string>

namespace pendrel::desktop {

// Why this process must not hold secrets, or nothing. Looks at what a library that hides
// itself cannot undo: the original environment block (/proc/self/environ, which unsetenv does
// not change) naming LD_PRELOAD, LD_AUDIT or LD_LIBRARY_PATH; a tracer (TracerPid); a loaded
// object that no loaded object links (its DT_NEEDED), or a shared object mapped
// (/proc/self/maps) that the loader does not list. The C library's own modules (NSS, libgcc_s)
// are allowed from the system's library directories. `proc_self` is a seam for the tests.
[[nodiscard]] std::optional<std::string> foreign_code_reason(
    const std::string& proc_self = "/proc/self");

}  // namespace pendrel::desktop
