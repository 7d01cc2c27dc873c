// Locating the desktop application's executable and starting it without a window.
#pragma once

#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "client/diagnostics.h"
#include "i18n/language.h"
#include "output/failure.h"
#include "protocol/environment.h"

namespace pendrel {

// The running program's path as the kernel reports it (/proc/self/exe), or nothing.
[[nodiscard]] std::optional<std::string> own_executable_path();

// The places where the application may live, relative to `path`, in order: "Pendrel" in the
// parent of its parent (only when both exist), then "pendrel-desktop" beside it (only when
// it has a parent). The root directory has no parent.
[[nodiscard]] std::vector<std::string> launch_candidates(std::string_view path);

// True when `candidate` is, after following symbolic links, a regular file (execute
// permission is not checked) that is not the program `own_path` itself. When either
// canonical form cannot be computed the file is accepted.
[[nodiscard]] bool is_launch_candidate(const std::string& own_path, const std::string& candidate);

// A non-empty PENDREL_APP as it is; nothing when PENDREL_APP is empty; otherwise the first
// candidate of `own_path`, then of its canonical form, that passes is_launch_candidate.
// Nothing when `own_path` is unknown or no candidate passes.
[[nodiscard]] std::optional<std::string> locate_app(const Environment& environment,
                                                    const std::optional<std::string>& own_path);

// locate_app with the program's own path read from /proc/self/exe.
[[nodiscard]] std::optional<std::string> locate_app(const Environment& environment);

// The files to try, in order, to start `program`: itself when it holds a slash; otherwise
// `program` in each directory of `search_path` (PATH; "/bin:/usr/bin" when unset), an empty
// entry meaning the working directory.
[[nodiscard]] std::vector<std::string> exec_candidates(std::string_view program,
                                                       std::optional<std::string_view> search_path);

// Starts the located application with the single argument "--headless", in a process group
// of its own, with /dev/null on its standard streams and no other descriptor of ours; the
// environment and working directory are inherited. It is never waited for. Fails with
// connect_failed (exit 5): app_not_found when nothing is located, start_failed with the OS
// error when it cannot be executed (a missing PENDREL_APP file included, and a file in no
// executable format, which is never handed to a shell: Exec format error).
[[nodiscard]] std::expected<void, CliFailure> start_app(const Environment& environment,
                                                        const Diagnostics& diagnostics,
                                                        Language language);

}  // namespace pendrel
